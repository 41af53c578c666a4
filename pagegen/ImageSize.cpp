#include "pagegen/ImageSize.h"

#include <fstream>

namespace pagegen {
namespace {

uint32_t Byte(std::string_view bytes, size_t at) { return static_cast<unsigned char>(bytes[at]); }

}  // namespace

bool ParseJpegSize(std::string_view bytes, int32_t& width, int32_t& height) {
    if (bytes.size() < 4 || Byte(bytes, 0) != 0xFF || Byte(bytes, 1) != 0xD8) return false;
    size_t at = 2;
    while (at + 4 <= bytes.size()) {
        if (Byte(bytes, at) != 0xFF) return false;
        const uint32_t marker = Byte(bytes, at + 1);
        if (marker == 0xFF) {  // fill byte
            ++at;
            continue;
        }
        const size_t length = (Byte(bytes, at + 2) << 8) | Byte(bytes, at + 3);
        if (length < 2) return false;
        // Start-of-frame markers C0..CF, except DHT (C4), JPG (C8) and DAC (CC).
        if (marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC) {
            if (at + 9 > bytes.size()) return false;
            height = static_cast<int32_t>((Byte(bytes, at + 5) << 8) | Byte(bytes, at + 6));
            width = static_cast<int32_t>((Byte(bytes, at + 7) << 8) | Byte(bytes, at + 8));
            return width > 0 && height > 0;
        }
        at += 2 + length;
    }
    return false;
}

bool JpegFileSize(const std::string& path, int32_t& width, int32_t& height) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::string bytes(256 * 1024, '\0');
    in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    bytes.resize(static_cast<size_t>(in.gcount()));
    return ParseJpegSize(bytes, width, height);
}

}  // namespace pagegen
