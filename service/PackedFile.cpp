#include "service/PackedFile.h"

#include <cerrno>
#include <cstring>
#include <unistd.h>
#include <zlib.h>

namespace service {
namespace {

constexpr size_t kPieceBytes = 64 * 1024;

bool WriteAll(int fd, const unsigned char* data, size_t size) {
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;
        data += written;
        size -= static_cast<size_t>(written);
    }
    return true;
}

// The inflate stream, ended when it goes.
struct Inflater {
    z_stream stream{};
    bool ready = false;
    Inflater() { ready = inflateInit2(&stream, 16 + MAX_WBITS) == Z_OK; }  // gzip wrapper only
    ~Inflater() {
        if (ready) inflateEnd(&stream);
    }
    Inflater(const Inflater&) = delete;
    Inflater& operator=(const Inflater&) = delete;
};

}  // namespace

bool UnpackToFile(std::string_view packed, int64_t size, int fd, std::string& why) {
    why = "the packed file does not unpack to its size";
    Inflater inflater;
    if (!inflater.ready || size < 0 || packed.size() > UINT32_MAX) return false;
    z_stream& stream = inflater.stream;
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(packed.data()));
    stream.avail_in = static_cast<uInt>(packed.size());
    unsigned char piece[kPieceBytes];
    int64_t written = 0;
    int status = Z_OK;
    while (status != Z_STREAM_END) {
        stream.next_out = piece;
        stream.avail_out = sizeof piece;
        status = inflate(&stream, Z_NO_FLUSH);
        if (status != Z_OK && status != Z_STREAM_END) return false;  // damaged or cut short
        const size_t got = sizeof piece - stream.avail_out;
        if (got == 0 && status == Z_OK && stream.avail_in == 0) return false;  // the stream ends early
        if (written + static_cast<int64_t>(got) > size) return false;        // it grows past its size
        if (!WriteAll(fd, piece, got)) {
            why = std::string("cannot write the file: ") + std::strerror(errno);
            return false;
        }
        written += static_cast<int64_t>(got);
    }
    // Bytes after the stream's end would be a second stream or junk.
    return written == size && stream.avail_in == 0;
}

}  // namespace service
