// Gzip for text files on their way to the publishing service: the whole-book text files
// (search text, text version, layout) shrink to about a fifth, and a book update sends
// them every time.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// `data` as a gzip stream.
std::string GzipBytes(std::string_view data);

// Unpacks the gzip stream `packed` into `out`, which must come to exactly `size` bytes:
// a stream that unpacks to more (a "zip bomb") or less, or is damaged, gives false
// without ever holding more than `size` bytes.
bool GunzipExactly(std::string_view packed, int64_t size, std::string& out);
