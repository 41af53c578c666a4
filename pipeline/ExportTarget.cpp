#include "pipeline/ExportTarget.h"

#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <vector>

#include "config/AppConfig.h"
#include "publish/BookDataFiles.h"

namespace fs = std::filesystem;

namespace {

// Everything an export writes at the top of its destination: the book folder's entries,
// the shared book files and the skins folder.
const char* const kExportedNames[] = {
    "index.html", "text.html", "txt.js", "layout.js", "thumb", "100", "HighRes", "MedRes", "LowRes", "print", "tiles",
    "index.js", "service.asp", "print.html", "RurovOzeza.v1.css", "skins",
};

// The path with every symbolic link of its existing part resolved and no trailing
// separator; empty when it cannot be resolved.
fs::path Resolved(const std::string& path)
{
    if (path.empty())
        return {};
    std::error_code ec;
    fs::path p = fs::weakly_canonical(fs::path(path), ec);
    if (ec)
        return {};
    std::string s = p.string();
    while (s.size() > 1 && s.back() == '/')
        s.pop_back();
    return fs::path(s);
}

// True when `inner` is `outer` or lies inside it (both resolved).
bool IsSameOrInside(const fs::path& inner, const fs::path& outer)
{
    if (inner.empty() || outer.empty())
        return false;
    auto i = inner.begin();
    for (auto o = outer.begin(); o != outer.end(); ++o, ++i) {
        if (i == inner.end() || *i != *o)
            return false;
    }
    return true;
}

// The user's home folders: $HOME and the password database's entry, when they differ.
std::vector<fs::path> HomeFolders()
{
    std::vector<fs::path> homes;
    if (const char* home = std::getenv("HOME"); home && *home)
        homes.push_back(Resolved(home));
    // The reentrant lookup: several workers may export at the same time.
    const long hint = sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(hint > 16384 ? static_cast<size_t>(hint) : 16384);
    passwd entry{};
    passwd* pw = nullptr;
    if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &pw) == 0 && pw && pw->pw_dir && *pw->pw_dir)
        homes.push_back(Resolved(pw->pw_dir));
    return homes;
}

bool IsExportedName(const std::string& name)
{
    return IsBookDataPiece(name) || std::any_of(std::begin(kExportedNames), std::end(kExportedNames),
                                                [&](const char* known) { return name == known; });
}

// The first top-level entry of `folder` that an export does not write, or empty.
std::string ForeignEntry(const fs::path& folder)
{
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(folder, ec)) {
        std::string name = entry.path().filename().string();
        if (!IsExportedName(name))
            return name;
    }
    return {};
}

}  // namespace

ExportGuard GuardFor(const AppConfig& cfg, const std::string& pdf_path)
{
    ExportGuard guard;
    guard.books_folder = cfg.m_books_folder;
    guard.data_folder = cfg.m_data_folder;
    guard.program_folder = cfg.LoadedProgramFolder();
    guard.pdf_path = pdf_path;
    return guard;
}

std::string ExportLocationRefusal(const std::string& destination, const ExportGuard& guard)
{
    if (destination.empty() || destination.front() != '/')
        return "the destination is not an absolute path";
    fs::path target = Resolved(destination);
    if (target.empty())
        return "the destination cannot be resolved";
    if (target == target.root_path())
        return "the destination is the file-system root";
    for (const fs::path& home : HomeFolders()) {
        if (IsSameOrInside(home, target))
            return "the destination is or contains the home folder";
    }
    // The program's own folders: neither inside them (an export would mix with what the
    // program keeps there) nor around them (emptying would delete them).
    const struct {
        const std::string& path;
        const char* what;
    } kept[] = {
        {guard.books_folder, "the books folder"},
        {guard.data_folder, "the settings folder"},
        {guard.program_folder, "the program folder"},
    };
    for (const auto& folder : kept) {
        fs::path resolved = Resolved(folder.path);
        if (IsSameOrInside(target, resolved) || IsSameOrInside(resolved, target))
            return std::string("the destination is, lies inside or contains ") + folder.what;
    }
    if (!guard.pdf_path.empty() && IsSameOrInside(Resolved(guard.pdf_path), target))
        return "the destination is or contains the PDF being converted";
    return {};
}

std::string ExportRefusal(const std::string& destination, const ExportGuard& guard)
{
    std::string reason = ExportLocationRefusal(destination, guard);
    if (!reason.empty())
        return reason;
    const fs::path target = Resolved(destination);
    std::error_code ec;
    if (!fs::exists(target, ec))
        return {};
    if (!fs::is_directory(target, ec))
        return "the destination is not a folder";
    if (fs::is_empty(target, ec) || IsEarlierExport(target.string()))
        return {};
    std::string foreign = ForeignEntry(target);
    return "the destination is not empty and holds no exported book (it holds \"" +
           (foreign.empty() ? std::string("other files") : foreign) + "\")";
}

bool IsEarlierExport(const std::string& folder)
{
    std::error_code ec;
    const fs::path path(folder);
    return fs::is_regular_file(path / "index.html", ec) && fs::is_regular_file(path / "index.js", ec) &&
           fs::is_directory(path / "skins", ec) && ForeignEntry(path).empty();
}

std::string ExportFolderName(const std::string& pdf_path)
{
    std::string name = pdf_path.substr(pdf_path.find_last_of("/\\") + 1);
    if (name.size() >= 4) {
        std::string extension = name.substr(name.size() - 4);
        std::transform(extension.begin(), extension.end(), extension.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        if (extension == ".pdf")
            name.resize(name.size() - 4);
    }
    for (char& c : name) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F || c == '/' || c == '\\')
            c = '_';
    }
    // A leading dot would hide the folder, and "." or ".." name no new folder at all.
    size_t start = name.find_first_not_of(". ");
    name = start == std::string::npos ? std::string() : name.substr(start);
    while (!name.empty() && name.back() == ' ')
        name.pop_back();
    constexpr size_t kMaxBytes = 200;  // room for a "-N" suffix under the 255-byte limit
    if (name.size() > kMaxBytes) {
        size_t cut = kMaxBytes;
        while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80)
            --cut;  // never inside a UTF-8 sequence
        name.resize(cut);
    }
    return name.empty() ? "book" : name;
}
