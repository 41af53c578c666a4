#include "service/BookDataScript.h"

#include <nlohmann/json.hpp>

#include <istream>
#include <streambuf>
#include <unistd.h>

namespace service {
namespace {

constexpr std::string_view kPrefixes[] = {"window.VELLUMARK_BOOK_TEXT = ", "window.VELLUMARK_BOOK_LAYOUT = ",
                                          "window.VELLUMARK_BOOK_TILES = "};

bool IsBlank(char c) { return c == '\n' || c == '\r' || c == ' ' || c == '\t'; }

// Reads the bytes [begin, end) of a file through a small buffer.
class FileRange : public std::streambuf {
public:
    FileRange(int fd, int64_t begin, int64_t end) : fd_(fd), at_(begin), end_(end) {}

private:
    int_type underflow() override {
        if (gptr() < egptr()) return traits_type::to_int_type(*gptr());
        const int64_t want = std::min<int64_t>(sizeof buffer_, end_ - at_);
        const ssize_t got = want > 0 ? ::pread(fd_, buffer_, static_cast<size_t>(want), at_) : 0;
        if (got <= 0) return traits_type::eof();
        at_ += got;
        setg(buffer_, buffer_, buffer_ + got);
        return traits_type::to_int_type(*gptr());
    }

    int fd_;
    int64_t at_, end_;
    char buffer_[64 * 1024];
};

// `size` bytes of the file from `offset`; empty when they cannot be read.
std::string ReadAt(int fd, int64_t offset, int64_t size) {
    std::string bytes(static_cast<size_t>(size), '\0');
    return ::pread(fd, bytes.data(), bytes.size(), offset) == size ? bytes : std::string();
}

}  // namespace

bool IsScriptName(std::string_view name) {
    return name.size() >= 3 && name.substr(name.size() - 3) == ".js";
}

bool IsBookDataScript(std::string_view content) {
    std::string_view value;
    for (std::string_view prefix : kPrefixes) {
        if (content.substr(0, prefix.size()) == prefix) value = content.substr(prefix.size());
    }
    while (!value.empty() && IsBlank(value.back())) value.remove_suffix(1);
    if (value.empty() || value.back() != ';') return false;
    value.remove_suffix(1);
    if (value.empty() || value.front() != '{') return false;
    return nlohmann::json::accept(value);
}

bool FileIsBookDataScript(int fd, int64_t size) {
    // The prefix at the start, ";" and blanks at the end (a tail of at most 4 KiB).
    const std::string head = ReadAt(fd, 0, std::min<int64_t>(size, 64));
    int64_t begin = -1;
    for (std::string_view prefix : kPrefixes) {
        if (std::string_view(head).substr(0, prefix.size()) == prefix) begin = static_cast<int64_t>(prefix.size());
    }
    if (begin < 0 || static_cast<int64_t>(head.size()) <= begin || head[static_cast<size_t>(begin)] != '{') return false;
    const int64_t tail_size = std::min<int64_t>(size - begin, 4096);
    std::string tail = ReadAt(fd, size - tail_size, tail_size);
    while (!tail.empty() && IsBlank(tail.back())) tail.pop_back();
    if (tail.empty() || tail.back() != ';') return false;
    const int64_t end = size - tail_size + static_cast<int64_t>(tail.size()) - 1;
    FileRange range(fd, begin, end);
    std::istream value(&range);
    return end > begin && nlohmann::json::accept(value);
}

}  // namespace service
