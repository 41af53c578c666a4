#include "service/RandomHex.h"

#include <sodium.h>
#include <vector>

namespace service {

std::string RandomHex(size_t bytes) {
    std::vector<unsigned char> raw(bytes);
    randombytes_buf(raw.data(), raw.size());
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char byte : raw) {
        out += digits[byte >> 4];
        out += digits[byte & 15];
    }
    return out;
}

}  // namespace service
