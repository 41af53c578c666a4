#include "pipeline/ExportBook.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <new>
#include <string_view>
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

// Why exporting `key` into `dst` would destroy something, or an empty text when it would
// not. Emptying the destination is the export's first step, so everything is checked
// before anything is created or deleted.
std::string RefusalReason(const std::string& dst, const std::string& key, const ExportGuard& guard) {
    if (!IsJobKey(key)) return "the job key is not 32 upper-case hexadecimal digits";
    std::string reason = ExportRefusal(dst, guard);
    if (!reason.empty()) return reason;
    std::error_code ec;
    if (!fs::is_directory(fs::path(guard.books_folder) / key, ec)) return "the book folder does not exist";
    return {};
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

// True when the page's bytes at `at` start with `text`.
bool StartsWith(const std::vector<char>& page, size_t at, std::string_view text) {
    return at + text.size() <= page.size() && std::equal(text.begin(), text.end(), page.begin() + at);
}

// True when "../" at `at` starts the value of an address attribute of the template
// (href="../, src='../, data-print="../): text from the PDF or the user is escaped by
// the page generator and can never open an attribute value there.
bool StartsTemplateAddress(const std::vector<char>& page, size_t at) {
    if (at < 2 || (page[at - 1] != '"' && page[at - 1] != '\'') || page[at - 2] != '=') return false;
    for (std::string_view name : {"href", "src", "data-print"}) {
        if (at >= name.size() + 2 && StartsWith(page, at - 2 - name.size(), name)) return true;
    }
    return false;
}

// True when "../" at `at` names one of the shared book files or folders.
bool NamesSharedFile(const std::vector<char>& page, size_t at) {
    for (std::string_view name : {"index.js", "service.asp", "print.html", "RurovOzeza.v1.css", "skins/", "lang/"}) {
        if (StartsWith(page, at + 3, name)) return true;
    }
    return false;
}

// Turns the template's "../" references to the shared files into " ./": they now lie
// next to the page. The length stays the same, so the page is rewritten in place.
void LocaliseReferences(std::vector<char>& page) {
    for (size_t i = 0; i + 2 < page.size(); ++i) {
        if (StartsWith(page, i, "../") && StartsTemplateAddress(page, i) && NamesSharedFile(page, i)) page[i] = ' ';
    }
}

}  // namespace

int ExportBook(const std::string& dst, const std::string& key, const ExportGuard& guard) {
    const std::string reason = RefusalReason(dst, key, guard);
    if (!reason.empty()) {
        DIAG(kModule, 0, "ERR:export to %s refused: %s", dst.c_str(), reason.c_str());
        return 1;
    }
    const std::string& books_dir = guard.books_folder;
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
