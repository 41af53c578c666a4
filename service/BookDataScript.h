// The scripts a book folder holds (txt.js, layout.js, tiles/tiles.js) are data: one assignment of a JSON
// value to a fixed global name. The viewer loads them with script elements (so that a
// book also opens from disk), which runs them in the origin that serves every book; so
// the service takes a ".js" upload only when it is exactly such an assignment, which can
// hold no code.
#pragma once

#include <cstdint>
#include <string_view>

namespace service {

// True when `name` must pass IsBookDataScript before it is stored.
bool IsScriptName(std::string_view name);

// True for "window.VELLUMARK_BOOK_TEXT = ", "window.VELLUMARK_BOOK_LAYOUT = " or
// "window.VELLUMARK_BOOK_TILES = ", then a
// JSON object, then ";" and nothing but blanks and line ends.
bool IsBookDataScript(std::string_view content);

// The same check of the `size` bytes of the open file `fd`, read a piece at a time, so
// that a large text needs no more memory than a small one.
bool FileIsBookDataScript(int fd, int64_t size);

}  // namespace service
