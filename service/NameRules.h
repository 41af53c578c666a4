// What a name sent by a client may be before it becomes part of a path under the
// storage root: a single plain component, or one of the book's own folders.
#pragma once

#include <string_view>

namespace service {

// A file name that is one path component: not empty, at most 255 bytes, no "/", "\",
// NUL or other control byte, not "." or "..", and not starting with "." (the service's
// own temporary files start with one and are never served).
bool IsSafeFileName(std::string_view name);

// One of the book's folders: "" (the book folder itself), "100", "HighRes", "MedRes",
// "LowRes", "print", "thumb" or "tiles" (the sharp zoom's tiles).
bool IsBookSubFolder(std::string_view name);

}  // namespace service
