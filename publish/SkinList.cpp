#include "publish/SkinList.h"

std::string LastQuotedName(const std::string& script) {
    const size_t last = script.rfind('\'');
    if (last == std::string::npos || last == 0) return {};
    const size_t before = script.rfind('\'', last - 1);
    if (before == std::string::npos) return {};
    return script.substr(before + 1, last - before - 1);
}

std::vector<std::string> QuotedListItems(const std::string& script) {
    std::vector<std::string> items;
    size_t pos = 0;
    while ((pos = script.find('\'', pos)) != std::string::npos) {
        const size_t close = script.find('\'', pos + 1);
        if (close == std::string::npos) break;
        if (close + 1 < script.size() && script[close + 1] == ',') {
            size_t start = pos + 1;
            while (start < close && script[start] == ' ') ++start;
            items.push_back(script.substr(start, close - start));
            pos = close + 2;
        } else {
            // Not a list item: the closing quote may open the next item.
            pos = close;
        }
    }
    return items;
}
