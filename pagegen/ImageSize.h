// The pixel size of a JPEG image, read from its frame header, so the book page can tell
// the viewer the size of the stored page images.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace pagegen {

// Width and height from the first start-of-frame marker of `bytes`; false when there is
// none or the data is not a JPEG stream.
bool ParseJpegSize(std::string_view bytes, int32_t& width, int32_t& height);

// The same for a file (its first 256 KiB are read).
bool JpegFileSize(const std::string& path, int32_t& width, int32_t& height);

}  // namespace pagegen
