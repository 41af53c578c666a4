#include "service/NameRules.h"

namespace service {

bool IsSafeFileName(std::string_view name) {
    if (name.empty() || name.size() > 255 || name.front() == '.') return false;
    for (char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7f || c == '/' || c == '\\') return false;
    }
    return true;
}

bool IsBookSubFolder(std::string_view name) {
    for (std::string_view folder : {"", "100", "HighRes", "MedRes", "LowRes", "print", "thumb", "tiles"}) {
        if (name == folder) return true;
    }
    return false;
}

}  // namespace service
