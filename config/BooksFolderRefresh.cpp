#include "config/BooksFolderRefresh.h"

#include "config/AppConfig.h"
#include "config/CommonUtil.h"
#include "config/DiagLog.h"
#include "config/IniDocument.h"
#include "config/IniFile.h"
#include "config/IniStorage.h"

#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <strings.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

const char kModule[] = "AppConfig";

void CopyLogged(const std::string& destination, const std::string& source, int overwrite)
{
    int rc = copy_file_or_path(destination, source, overwrite, 0);
    if (rc != 0)
        DIAG(kModule, rc, "ERR:copy_file_or_path failed, return %d ", rc);
}

// True when the data folder's config.ini was written by a build that may take the
// shipped book files: its buildver, folded as the settings store reads integers, is
// neither negative nor newer than this program.
bool BuildAllowsRefresh(const std::string& data)
{
    IniFile config(JoinPath(data, "config.ini"));
    if (!config.Exists())
        return true;
    // The settings store's integer fold of the stored text.
    int64_t build = config.ReadInt("general", "buildver");
    return build >= 0 && build <= AppConfig::kBuildStamp;
}

// One INI section of a file as text: its header line and the lines up to the next one.
struct SectionBlock {
    std::string name;
    std::string text;
};

std::vector<SectionBlock> SplitSections(const std::string& content, std::string* preamble)
{
    std::vector<SectionBlock> blocks;
    size_t pos = 0;
    while (pos < content.size()) {
        size_t end = content.find('\n', pos);
        size_t next = end == std::string::npos ? content.size() : end + 1;
        std::string line = content.substr(pos, next - pos);
        size_t first = line.find_first_not_of(" \t");
        size_t close = line.find(']');
        if (first != std::string::npos && line[first] == '[' && close != std::string::npos && close > first) {
            // Blanks around the name are not part of it, as for the settings store.
            std::string name = line.substr(first + 1, close - first - 1);
            const size_t from = name.find_first_not_of(" \t");
            name = from == std::string::npos ? std::string()
                                              : name.substr(from, name.find_last_not_of(" \t") - from + 1);
            blocks.push_back({name, std::string()});
        }
        if (blocks.empty()) {
            if (preamble)
                *preamble += line;
        } else {
            blocks.back().text += line;
        }
        pos = next;
    }
    return blocks;
}

std::string ReadWhole(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Replaces `path` with `content` through a temporary file and rename, so a failure
// never leaves half a file.
bool WriteWhole(const std::string& path, const std::string& content)
{
    std::string temp = path + ".tmp" + std::to_string(getpid());
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        out.write(content.data(), static_cast<std::streamsize>(content.size()));
        out.flush();
        if (!out) {
            std::error_code ec;
            fs::remove(temp, ec);
            return false;
        }
    }
    std::error_code ec;
    fs::rename(temp, path, ec);
    if (ec) {
        fs::remove(temp, ec);
        return false;
    }
    return true;
}

// Copies a folder to exactly `target`, replacing what was there.
int ReplaceFolder(const std::string& target, const std::string& source)
{
    std::error_code ec;
    fs::remove_all(target, ec);
    return copy_file_or_path(target, source, 1, 0);
}

// Replaces the books folder's page template `target` (version `old_version`) with the
// shipped one. The user may have edited it, so the old file is kept beside it as
// "booklet.asp.bak-N" (N its version; "-2", "-3" ... added when that name holds another
// file); when no copy can be made, the old template stays in place.
void ReplaceTemplateKeepingOld(const std::string& target, const std::string& source, long long old_version)
{
    std::string old_text;
    if (ini_storage::ReadBytes(target, old_text)) {
        const std::string base = target + ".bak-" + std::to_string(old_version < 0 ? 0 : old_version);
        std::string backup = base;
        // The first name that is free or already holds this very file.
        for (int n = 2; n <= 100 && PathExists(backup) && ReadWhole(backup) != old_text; ++n)
            backup = base + "-" + std::to_string(n);
        if (PathExists(backup) && ReadWhole(backup) != old_text) {
            DIAG(kModule, 0, "ERR:no free name to keep the page template %s; it is not replaced", target.c_str());
            return;
        }
        if (!PathExists(backup)) {
            if (!WriteWhole(backup, old_text)) {
                DIAG(kModule, errno, "ERR:cannot keep the page template as %s; it is not replaced", backup.c_str());
                return;
            }
            DIAG(kModule, 0, "INF:the previous page template is kept as %s", backup.c_str());
        }
    } else if (errno != ENOENT) {
        DIAG(kModule, errno, "ERR:cannot read the page template %s; it is not replaced", target.c_str());
        return;
    }
    CopyLogged(target, source, 1);
}

}  // namespace

long long ReadVersionMarker(const std::string& path)
{
    static const std::string kMarker = "corvane_version=\"";
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return -1;
    std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    size_t at = content.find(kMarker);
    if (at == std::string::npos)
        return -1;
    size_t start = at + kMarker.size();
    size_t end = content.find('"', start);
    if (end == std::string::npos)
        return -1;
    // Decimal digits up to the quote; anything else ends the number.
    long long version = 0;
    for (size_t i = start; i < end && content[i] >= '0' && content[i] <= '9' && version < (1LL << 56); ++i)
        version = version * 10 + (content[i] - '0');
    return version;
}

bool ImportSampleBooks(const std::string& books, const std::string& defaults)
{
    const std::string source_meta = JoinPath(defaults, "meta.ini");
    const std::string target_meta = JoinPath(books, "meta.ini");
    std::string preamble;
    std::vector<SectionBlock> shipped = SplitSections(ReadWhole(source_meta), &preamble);
    std::string target_text;
    if (!ini_storage::ReadBytes(target_meta, target_text)) {
        // A meta.ini that is there but cannot be read is never replaced: that would
        // throw away every job record in it.
        if (errno != ENOENT) {
            DIAG(kModule, errno, "ERR:cannot read %s", target_meta.c_str());
            return false;
        }
        target_text = preamble;
    }
    // The sections as the settings store sees them (through a UTF-8 mark, names trimmed).
    const std::vector<std::string> present = IniDocument::Parse(target_text).SectionNames();

    bool changed = false;
    bool ok = true;
    for (const SectionBlock& block : shipped) {
        bool known = false;
        for (const std::string& have : present)
            known = known || strcasecmp(have.c_str(), block.name.c_str()) == 0;
        if (known || block.name.empty())
            continue;
        const std::string book_source = JoinPath(defaults, "Upload/" + block.name);
        if (PathExists(book_source)) {
            int rc = ReplaceFolder(JoinPath(books, block.name), book_source);
            if (rc != 0) {
                DIAG(kModule, rc, "ERR:copy_file_or_path failed, return %d ", rc);
                ok = false;
                break;
            }
        }
        if (!target_text.empty() && target_text.back() != '\n')
            target_text += "\n";
        target_text += block.text;
        changed = true;
    }
    if (changed && !WriteWhole(target_meta, target_text)) {
        DIAG(kModule, errno, "ERR:cannot write %s", target_meta.c_str());
        return false;
    }
    return ok;
}

void RefreshBooksFolder(const std::string& books, const std::string& data, const std::string& defaults,
                        const std::string& skin_number, bool first_run, IniFile& app_ini)
{
    app_ini.SetPath(defaults, "app.ini");
    if (defaults.empty() || !IsFolder(defaults))
        return;
    if (!first_run && !BuildAllowsRefresh(data))
        return;

    const std::string upload = JoinPath(defaults, "Upload/");
    auto in_books = [&](const std::string& name) { return JoinPath(books, name); };

    CopyLogged(in_books("service.asp"), upload + "service.asp", 0);
    CopyLogged(in_books("print.html"), upload + "print.html", 1);
    CopyLogged(in_books("RurovOzeza.v1.css"), upload + "RurovOzeza.v1.css", 0);
    CopyLogged(in_books("index.js"), upload + "index.js", 1);

    const long long template_version = ReadVersionMarker(in_books("booklet.asp"));
    if (ReadVersionMarker(upload + "booklet.asp") > template_version)
        ReplaceTemplateKeepingOld(in_books("booklet.asp"), upload + "booklet.asp", template_version);

    CopyLogged(in_books("bar2.asp"), upload + "bar2.asp", 1);

    const std::string skins = in_books("skins");
    std::error_code ec;
    fs::create_directories(skins, ec);
    if (skin_number.empty()) {
        // Without a skin number there is no skin folder to bring over.
        DIAG(kModule, 0, "INF:no skin number, skin files not copied");
    } else if (!PathExists(skins + "/" + skin_number + "/skin.js")) {
        CopyLogged(skins, upload + "skins/" + skin_number, 1);
    }
    // Left over by an old copy that nested the skin folder inside itself.
    if (fs::is_directory(skins + "/2/2", ec))
        fs::remove_all(skins + "/2/2", ec);

    if (ReadVersionMarker(upload + "lang/lang.xml") > ReadVersionMarker(in_books("lang/lang.xml")))
        CopyLogged(books, upload + "lang", 1);

    // The shipped folder belongs to the installation (shared by every user, usually
    // read-only), so sample books are copied out of it rather than moved, and only
    // books the user's meta.ini does not list yet are imported.
    if (PathExists(JoinPath(defaults, "meta.ini")))
        ImportSampleBooks(books, defaults);
}
