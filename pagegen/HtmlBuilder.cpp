// Making a book page: reading the template, and running its tags into the page.
#include "pagegen/HtmlBuilder.h"

#include "config/DiagLog.h"
#include "pagegen/TextLimits.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <memory>
#include <new>

namespace {

constexpr const char* kModule = "CreateHtml";

class UniqueFd {
public:
    explicit UniqueFd(int fd) : fd_(fd) {}
    ~UniqueFd() {
        if (fd_ >= 0) ::close(fd_);
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

int AsLogInt(long long value) {
    return value > INT_MAX ? INT_MAX : static_cast<int>(value);
}

bool IsBlank(char c) {
    // Tabs count as blanks too: templates written on Linux are often indented with them.
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

bool IsIdentifierChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

// Position of the next "<%" in [from, end), or null.
const char* FindTagOpen(const char* from, const char* end) {
    for (const char* p = from; p + 1 < end; ++p) {
        if (p[0] == '<' && p[1] == '%') return p;
    }
    return nullptr;
}

// Where the page starts: the document-type declaration ("<!D"). Text before it (a
// byte-order mark, server-side lines) is dropped. A template without a declaration is
// used whole rather than reduced to its last bytes.
size_t PageStart(const std::string& text) {
    for (size_t i = 0; i + 2 < text.size(); ++i) {
        if (text[i] == '<' && text[i + 1] == '!' && text[i + 2] == 'D') return i;
    }
    return 0;
}

}  // namespace

HtmlBuilder::HtmlBuilder(const BookPageSettings& settings) : settings_(settings) {
    sub_skin_dir_ = pagegen::FitText("../" + settings_.skin_subdir, kSubSkinDirCapacity);
    SetPageSize(settings_.page_width, settings_.page_height);
}

void HtmlBuilder::SetPageSize(int32_t width, int32_t height) {
    settings_.page_width = width;
    settings_.page_height = height;
    zoom_container_height_ = static_cast<int32_t>(static_cast<uint32_t>(height) + 40u);
    zoom_container_width_ = static_cast<int32_t>(static_cast<uint32_t>(width) + 16u);
}

bool HtmlBuilder::MakePage(const BookPageSettings& settings, const std::string& template_path,
                           const std::string& output_path) {
    *this = HtmlBuilder(settings);
    return MakePage(template_path, output_path);
}

bool HtmlBuilder::MakePage(const std::string& template_path, const std::string& output_path) {
    std::string text;
    {
        UniqueFd fd(::open(template_path.c_str(), O_RDONLY | O_CLOEXEC));
        if (fd.get() < 0) {
            DIAG(kModule, errno, "ERR:CreateFile failed on %s", template_path.c_str());
            return false;
        }
        DIAG(kModule, 0, "INF:bytestoread %d", 1024);
        struct stat info {};
        if (::fstat(fd.get(), &info) != 0) {
            DIAG(kModule, errno, "ERR:ReadFile failed");
            return false;
        }
        DIAG(kModule, 0, "INF:bytestoread %d", AsLogInt(info.st_size));
        try {
            text.resize(static_cast<size_t>(info.st_size));
        } catch (const std::exception&) {
            DIAG(kModule, ENOMEM, "ERR:NO memory for %d bytes", AsLogInt(info.st_size));
            return false;
        }
        size_t got = 0;
        while (got < text.size()) {
            const ssize_t n = ::read(fd.get(), text.data() + got, text.size() - got);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            got += static_cast<size_t>(n);
        }
        if (got == 0) {
            DIAG(kModule, errno, "ERR:ReadFile failed");
            return false;
        }
        text.resize(got);  // a file that shrank meanwhile is used as far as it was read
    }
    if (!preprocess_include_file(text, PageStart(text), template_path, settings_.lang_filename)) {
        DIAG(kModule, errno, "ERR:preprocess_include_file failed");
        return false;
    }
    return create_html(text.data(), text.size(), output_path);
}

bool HtmlBuilder::create_html(const char* text, size_t length, const std::string& output_path) {
    DIAG(kModule, 0, "INF: create_html called");
    std::unique_ptr<std::FILE, FileCloser> out(std::fopen(output_path.c_str(), "we"));
    if (!out) {
        DIAG(kModule, errno, "ERR:fopen failed");
        return false;
    }
    const char* const end = text + length;
    const char* pos = text;      // where the statements are read on
    const char* written = text;  // everything before this is in the page already
    bool ok = true;
    auto write = [&](const char* from, const char* to) {
        if (!ok || to <= from) return;
        const size_t count = static_cast<size_t>(to - from);
        if (std::fwrite(from, 1, count, out.get()) != count) {
            DIAG(kModule, errno, "ERR:fwrite failed when %d bytes", AsLogInt(written - text));
            ok = false;
        }
    };

    in_tag_ = false;
    while (true) {
        was_in_tag_ = in_tag_;
        const char* tag_open = nullptr;
        if (!in_tag_) {
            tag_open = FindTagOpen(pos, end);
            if (tag_open == nullptr) break;
            pos = tag_open + 2;
            in_tag_ = true;
        }
        while (pos < end && IsBlank(*pos)) ++pos;
        // A statement ends at the end of its line or at "%>", which closes the tag.
        const char* statement_end = pos;
        bool closes_tag = false;
        while (statement_end < end && *statement_end != '\r' && *statement_end != '\n') {
            if (statement_end[0] == '%' && statement_end + 1 < end && statement_end[1] == '>') {
                closes_tag = true;
                break;
            }
            ++statement_end;
        }
        // Text that ends inside a tag is written as it stands, below.
        if (statement_end == end) break;
        if (!was_in_tag_) {
            write(written, tag_open);
            written = tag_open;
        }
        if (closes_tag) in_tag_ = false;
        if (!RunStatement(pos, statement_end, out.get())) ok = false;
        pos = closes_tag ? statement_end + 2 : statement_end;
        if (closes_tag) written = pos;
    }
    write(written, end);
    if (std::fclose(out.release()) != 0 && ok) {
        DIAG(kModule, errno, "ERR:fwrite failed when %d bytes", AsLogInt(end - text));
        ok = false;
    }
    // A page that could not be written whole is reported, not passed off as made.
    return ok;
}

bool HtmlBuilder::RunStatement(const char* begin, const char* end, std::FILE* out) {
    if (begin < end && *begin == '=') {
        // Expression: a name, then optionally '+' or '-' and a number.
        const char* p = begin + 1;
        while (p < end && !IsIdentifierChar(*p)) ++p;
        const char* name_begin = p;
        while (p < end && IsIdentifierChar(*p)) ++p;
        const std::string name(name_begin, p);
        while (p < end && (*p == ' ' || *p == '\t')) ++p;
        char op = 0;
        int32_t operand = 0;
        if (p < end && (*p == '+' || *p == '-')) {
            op = *p++;
            while (p < end && !IsIdentifierChar(*p)) ++p;
            const char* number_begin = p;
            while (p < end && IsIdentifierChar(*p)) ++p;
            operand = pagegen::FoldDecimal(std::string_view(number_begin, static_cast<size_t>(p - number_begin)));
        }
        const std::string value = Evaluate(name, op, operand);
        if (value.empty()) return true;
        if (std::fwrite(value.data(), 1, value.size(), out) != value.size()) {
            DIAG(kModule, errno, "ERR:fwrite failed when %d bytes", static_cast<int>(value.size()));
            return false;
        }
        return true;
    }

    // Assignment: the name runs from its first identifier character to '"' or '=', so a
    // blank before '=' stays part of the name.
    const char* p = begin;
    while (p < end && !IsIdentifierChar(*p)) ++p;
    const char* name_begin = p;
    while (p < end && *p != '"' && *p != '=') ++p;
    if (p == end || *p != '=') return true;  // no value: nothing to set
    const std::string name(name_begin, p);
    const char* value_begin = p + 1;
    if (value_begin < end && *value_begin == '"') {
        // Quoted: the value ends at the double quote that closes the statement (the
        // last character before the line end or "%>"); without one, at the last double
        // quote, else at the statement's end.
        const char* inner = value_begin + 1;
        const char* inner_end = end;
        if (end - 1 > value_begin && end[-1] == '"') {
            inner_end = end - 1;
        } else {
            for (const char* q = end - 1; q > value_begin; --q) {
                if (*q == '"') {
                    inner_end = q;
                    break;
                }
            }
        }
        Assign(name, JoinQuotedValue(inner, inner_end));
    } else {
        Assign(name, std::string(value_begin, end));
    }
    return true;
}
