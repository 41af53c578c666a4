#include "service/BookDataScript.h"

#include <nlohmann/json.hpp>

namespace service {

bool IsScriptName(std::string_view name) {
    return name.size() >= 3 && name.substr(name.size() - 3) == ".js";
}

bool IsBookDataScript(std::string_view content) {
    std::string_view value;
    for (std::string_view prefix : {"window.VELLUMARK_BOOK_TEXT = ", "window.VELLUMARK_BOOK_LAYOUT = "}) {
        if (content.substr(0, prefix.size()) == prefix) value = content.substr(prefix.size());
    }
    while (!value.empty() && (value.back() == '\n' || value.back() == '\r' || value.back() == ' ' || value.back() == '\t'))
        value.remove_suffix(1);
    if (value.empty() || value.back() != ';') return false;
    value.remove_suffix(1);
    if (value.empty() || value.front() != '{') return false;
    return nlohmann::json::accept(value);
}

}  // namespace service
