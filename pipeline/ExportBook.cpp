#include "pipeline/ExportBook.h"

#include <errno.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <new>
#include <system_error>
#include <vector>

#include "config/CommonUtil.h"
#include "config/DiagLog.h"
#include "config/JobKey.h"
#include "pipeline/ChildProcess.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kModule = "ExportBook";

// The shared book files copied next to the book, in this order.
const char* const kSharedFiles[] = {"index.js", "service.asp", "print.html", "RurovOzeza.v1.css"};

// The path with every symbolic link of its existing part resolved and no trailing
// separator; empty when it cannot be resolved.
fs::path Resolved(const std::string& path) {
    if (path.empty()) return {};
    std::error_code ec;
    fs::path p = fs::weakly_canonical(fs::path(path), ec);
    if (ec) return {};
    std::string s = p.string();
    while (s.size() > 1 && s.back() == '/') s.pop_back();
    return fs::path(s);
}

// True when `inner` is `outer` or lies inside it (both resolved).
bool IsSameOrInside(const fs::path& inner, const fs::path& outer) {
    auto i = inner.begin();
    for (auto o = outer.begin(); o != outer.end(); ++o, ++i) {
        if (i == inner.end() || *i != *o) return false;
    }
    return true;
}

// The user's home folders: $HOME and the password database's entry, when they differ.
std::vector<fs::path> HomeFolders() {
    std::vector<fs::path> homes;
    if (const char* home = std::getenv("HOME"); home && *home) homes.push_back(Resolved(home));
    // The reentrant lookup: several workers may export at the same time, and getpwuid's
    // shared result could be overwritten or freed under another thread.
    const long hint = sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(hint > 16384 ? static_cast<size_t>(hint) : 16384);
    passwd entry {};
    passwd* pw = nullptr;
    if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &pw) == 0 && pw && pw->pw_dir && *pw->pw_dir)
        homes.push_back(Resolved(pw->pw_dir));
    return homes;
}

// Why exporting `key` into `dst` would destroy something, or nullptr when it would not.
// Emptying the destination is the export's first step, so a destination that holds the
// user's books or home must be refused before anything is deleted.
const char* RefusalReason(const std::string& dst, const std::string& key, const std::string& books_dir) {
    if (!IsJobKey(key)) return "the job key is not 32 upper-case hexadecimal digits";
    if (dst.empty() || dst.front() != '/') return "the destination is not an absolute path";
    fs::path target = Resolved(dst);
    fs::path books = Resolved(books_dir);
    if (target.empty() || books.empty()) return "the destination or the books folder cannot be resolved";
    if (target == target.root_path()) return "the destination is the file-system root";
    for (const fs::path& home : HomeFolders()) {
        if (!home.empty() && IsSameOrInside(home, target)) return "the destination is or contains the home folder";
    }
    if (IsSameOrInside(target, books)) return "the destination is the books folder or lies inside it";
    if (IsSameOrInside(books, target)) return "the destination contains the books folder";
    std::error_code ec;
    if (fs::exists(target, ec) && !fs::is_directory(target, ec)) return "the destination is not a folder";
    if (!fs::is_directory(books / key, ec)) return "the book folder does not exist";
    return nullptr;
}

// Deletes everything inside `dst`; the folder itself stays (and is made when missing).
void EmptyFolder(const fs::path& dst) {
    std::error_code ec;
    fs::create_directories(dst, ec);
    std::vector<fs::path> entries;
    for (const auto& entry : fs::directory_iterator(dst, ec)) entries.push_back(entry.path());
    for (const fs::path& entry : entries) {
        // remove_all removes a symbolic link itself, never what it points to.
        fs::remove_all(entry, ec);
        if (ec) DIAG(kModule, ec.value(), "ERR:cannot delete %s", entry.c_str());
    }
}

void Copy(const std::string& destination, const std::string& source, int show_progress) {
    int rc = copy_file_or_path(destination, source, 1, show_progress);
    if (rc != 0) DIAG(kModule, rc, "ERR:copy_file_or_path failed, return %d ", rc);
}

// Turns every "../" of the page into " ./": the shared files now lie next to the page.
// The length stays the same, so the page is rewritten in place.
void LocaliseReferences(std::vector<char>& page) {
    for (size_t i = 0; i + 2 < page.size(); ++i) {
        if (page[i] == '.' && page[i + 1] == '.' && page[i + 2] == '/') page[i] = ' ';
    }
}

}  // namespace

int ExportBook(const std::string& dst, const std::string& key, const std::string& books_dir) {
    if (const char* reason = RefusalReason(dst, key, books_dir)) {
        DIAG(kModule, 0, "ERR:export to %s refused: %s", dst.c_str(), reason);
        return 1;
    }
    const fs::path target(dst);
    EmptyFolder(target);

    Copy(dst, JoinPath(JoinPath(books_dir, key), "*"), 1);
    for (const char* name : kSharedFiles) Copy(JoinPath(dst, name), JoinPath(books_dir, name), 0);

    const std::string skins = JoinPath(dst, "skins");
    std::error_code ec;
    fs::create_directories(skins, ec);
    const std::string skin_source = JoinPath(books_dir, "skins/2");
    DIAG(kModule, 0, "INF:dst=%s,src=%s", skins.c_str(), skin_source.c_str());
    Copy(skins, skin_source, 0);

    const std::string page_path = JoinPath(dst, "index.html");
    UniqueFd page(::open(page_path.c_str(), O_RDWR | O_CLOEXEC));
    if (!page.Valid()) {
        DIAG(kModule, errno, "ERR:%s missing.", page_path.c_str());
        return 1;
    }
    struct stat st {};
    if (::fstat(page.Get(), &st) != 0) {
        DIAG(kModule, errno, "ERR:ReadFile failed");
        return 2;
    }
    std::vector<char> text;
    try {
        text.resize(static_cast<size_t>(st.st_size));
    } catch (const std::bad_alloc&) {
        DIAG(kModule, ENOMEM, "ERR:NO memory for %d bytes", static_cast<int>(st.st_size));
        return 2;
    }
    size_t got = 0;
    while (got < text.size()) {
        ssize_t n = ReadRetry(page.Get(), text.data() + got, text.size() - got);
        if (n <= 0) {
            DIAG(kModule, n < 0 ? errno : 0, "ERR:ReadFile failed");
            return 2;
        }
        got += static_cast<size_t>(n);
    }

    LocaliseReferences(text);

    size_t put = 0;
    while (put < text.size()) {
        ssize_t n = ::pwrite(page.Get(), text.data() + put, text.size() - put, static_cast<off_t>(put));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            DIAG(kModule, n < 0 ? errno : 0, "ERR:WriteFile failed");
            return 2;
        }
        put += static_cast<size_t>(n);
    }
    if (!page.Reset()) {
        DIAG(kModule, errno, "ERR:WriteFile failed");
        return 2;
    }
    return 0;
}
