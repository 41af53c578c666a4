// Expansion of the include directives of a page template.
#include "pagegen/HtmlBuilder.h"

#include "config/DiagLog.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <string_view>
#include <vector>

namespace {

constexpr const char* kModule = "CreateHtml";
constexpr std::string_view kDirective = "<!--#include file=";
constexpr size_t kLangFileNameMax = 63;

// One directive found in the template: the file it names, where it stands and the
// file's size (-1 when the file cannot be examined or is not a regular file).
struct IncludeEntry {
    std::string path;
    size_t begin = 0;
    size_t end = 0;
    int64_t size = -1;
};

// The template's folder with a trailing separator; empty for a bare file name, whose
// includes are then looked up relative to the current folder.
std::string TemplateFolder(const std::string& template_path) {
    const size_t slash = template_path.find_last_of("/\\");
    if (slash == std::string::npos) return {};
    return template_path.substr(0, slash) + "/";
}

// Toolbar language fragments are swapped for the language chosen for the book.
void SwapLanguageFragment(std::string& name, const std::string& lang_filename) {
    const size_t slash = name.find_last_of('/');
    const size_t base_at = slash == std::string::npos ? 0 : slash + 1;
    const std::string_view base = std::string_view(name).substr(base_at);
    if (base != "en.asp" && base != "cn.asp" && base != "fr.asp") return;
    const std::string lang = lang_filename.substr(0, kLangFileNameMax);
    name.replace(base_at, std::string::npos, lang.empty() ? std::string("en.asp") : lang);
}

int64_t RegularFileSize(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return -1;
    return static_cast<int64_t>(info.st_size);
}

// Finds the directives from `start` on. A directive whose name or closing ">" is missing
// (the text ends first) is not one and stays as text.
std::vector<IncludeEntry> FindDirectives(const std::string& text, size_t start, const std::string& folder,
                                         const std::string& lang_filename) {
    std::vector<IncludeEntry> entries;
    size_t from = start;
    while (true) {
        const size_t at = text.find(kDirective, from);
        if (at == std::string::npos) break;
        // The character after the directive text is the opening quote; the name runs to
        // the next single or double quote.
        const size_t name_begin = at + kDirective.size() + 1;
        const size_t name_end = name_begin <= text.size() ? text.find_first_of("'\"", name_begin) : std::string::npos;
        const size_t close = name_end == std::string::npos ? std::string::npos : text.find('>', name_end);
        if (close == std::string::npos) break;
        std::string name = text.substr(name_begin, name_end - name_begin);
        for (char& c : name) {
            if (c == '\\') c = '/';
        }
        SwapLanguageFragment(name, lang_filename);
        IncludeEntry entry;
        entry.path = folder + name;
        entry.begin = at;
        // The line end right after the ">" goes with the directive; any other character
        // is page content and stays.
        entry.end = close + 1;
        if (entry.end < text.size() && (text[entry.end] == '\n' || text[entry.end] == '\r')) ++entry.end;
        entry.size = RegularFileSize(entry.path);
        entries.push_back(std::move(entry));
        from = entries.back().end;
    }
    return entries;
}

// Appends the whole file to `out`; false (logged) when it cannot be read in full.
bool AppendFile(const IncludeEntry& entry, std::string& out) {
    const int fd = ::open(entry.path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        DIAG(kModule, errno, "ERR:CreateFile failed on %s", entry.path.c_str());
        return false;
    }
    const size_t want = static_cast<size_t>(entry.size);
    const size_t old_size = out.size();
    out.resize(old_size + want);
    size_t got = 0;
    while (got < want) {
        const ssize_t n = ::read(fd, out.data() + old_size + got, want - got);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        got += static_cast<size_t>(n);
    }
    const int read_errno = errno;
    ::close(fd);
    if (got < want) {
        DIAG(kModule, read_errno, "ERR:ReadFile failed");
        return false;
    }
    return true;
}

}  // namespace

bool preprocess_include_file(std::string& text, size_t start, const std::string& template_path,
                             const std::string& lang_filename) {
    if (start > text.size()) start = text.size();
    const std::vector<IncludeEntry> entries = FindDirectives(text, start, TemplateFolder(template_path), lang_filename);

    std::string expanded;
    try {
        size_t room = text.size() - start;
        for (const IncludeEntry& entry : entries) {
            if (entry.size > 0) room += (entry.end - entry.begin) + static_cast<size_t>(entry.size);
        }
        expanded.reserve(room);
    } catch (const std::exception&) {
        DIAG(kModule, ENOMEM, "ERR:HeapAlloc failed");
        return false;
    }

    // A directive whose file is missing or empty stays in the page as written.
    size_t copied = start;
    for (const IncludeEntry& entry : entries) {
        if (entry.size <= 0) continue;
        expanded.append(text, copied, entry.begin - copied);
        if (!AppendFile(entry, expanded)) return false;
        copied = entry.end;
    }
    expanded.append(text, copied, std::string::npos);
    text.swap(expanded);
    return true;
}
