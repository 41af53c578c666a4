#include "tests/ui/BookInBrowser.h"

#include <array>
#include <cstdio>

std::string RenderedPage(const std::string& url, const std::filesystem::path& profile)
{
    std::filesystem::create_directories(profile);
    // Bounded by timeout(1); loopback addresses only, no background traffic.
    const std::string command =
        "timeout 60 /usr/bin/chromium --headless --no-sandbox --disable-gpu --disable-background-networking "
        "--disable-component-update --no-first-run --disable-sync --virtual-time-budget=5000 --user-data-dir='" +
        profile.string() + "' --dump-dom '" + url + "' 2>/dev/null";
    std::string page;
    FILE* out = popen(command.c_str(), "r");
    if (!out)
        return page;
    std::array<char, 8192> buffer{};
    size_t got;
    while ((got = std::fread(buffer.data(), 1, buffer.size(), out)) > 0)
        page.append(buffer.data(), got);
    pclose(out);
    return page;
}
