// Unpacks the gzip file data of an upload straight into the file being written, a piece
// at a time: the memory it needs is one small buffer, whatever size the upload announces.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace service {

// Writes what the gzip stream `packed` unpacks to into the open file `fd` from its start.
// True only when the stream is whole and undamaged, all of `packed` is that one stream,
// and it unpacks to exactly `size` bytes; it stops as soon as the stream would grow past
// `size`. `why` says what is wrong; the file then holds junk for the caller to remove.
bool UnpackToFile(std::string_view packed, int64_t size, int fd, std::string& why);

}  // namespace service
