#include "service/BookUpdates.h"

#include "config/BookManifest.h"
#include "config/DiagLog.h"
#include "config/JobKey.h"
#include "service/NameRules.h"
#include "service/RandomHex.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace service {
namespace {

constexpr const char* kModule = "BookUpdates";
// Put into the stage just before the switch: found in the live folder, it tells that
// the switch happened (the old folder is then where the stage was).
constexpr const char* kSwitchMarker = ".switching";

bool ReadText(const fs::path& path, std::string& out) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream text;
    text << in.rdbuf();
    out = text.str();
    return !in.bad();
}

// Where the manifest path `path` is in `folder`, when it names a file a book folder can
// hold: NAME or FOLDER/NAME, with the folder and name rules of uploads.
bool BookFilePath(const fs::path& folder, const std::string& path, fs::path& out) {
    const size_t slash = path.find('/');
    const std::string sub = slash == std::string::npos ? std::string() : path.substr(0, slash);
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    if ((slash != std::string::npos && sub.empty()) || !IsBookSubFolder(sub) || !IsSafeFileName(name)) return false;
    out = sub.empty() ? folder / name : folder / sub / name;
    return true;
}

bool Exists(const fs::path& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0;
}

// Links `from` as `to` unless `to` is there already.
bool LinkFile(const fs::path& from, const fs::path& to, std::string& why) {
    if (::link(from.c_str(), to.c_str()) == 0 || errno == EEXIST) return true;
    why = "cannot prepare the update: " + std::string(std::strerror(errno));
    return false;
}

// Exchanges the two folders in one step; when `live` does not exist yet (a first
// publication), the stage is renamed to it.
bool ExchangeFolders(const fs::path& stage, const fs::path& live, bool& exchanged, std::string& why) {
    exchanged = Exists(live);
    const int done = exchanged ? ::renameat2(AT_FDCWD, stage.c_str(), AT_FDCWD, live.c_str(), RENAME_EXCHANGE)
                               : ::rename(stage.c_str(), live.c_str());
    if (done == 0) return true;
    why = std::string("cannot switch to the updated book: ") +
          (errno == EINVAL ? "the data folder's file system cannot exchange folders" : std::strerror(errno));
    return false;
}

}  // namespace

BookUpdates::BookUpdates(BookStore& books) : books_(books) {}

std::string BookUpdates::LiveManifest(const std::string& key) {
    std::string text;
    if (!ReadText(books_.BookFolder(key) / BookManifest::kFileName, text)) return std::string();
    return text;
}

bool BookUpdates::FindOpen(const std::string& key, OpenUpdate& out) {
    ServiceDatabase& db = books_.Database();
    auto lock = db.Lock();
    Statement find(db,
                   "SELECT coalesce(update_id, ''), owner, coalesce(touched, started), coalesce(session, 0) FROM book_stage"
                   " WHERE key = ?1");
    if (!find.Ok() || !find.Bind(1, key).Step()) return false;
    out.id = find.Text(0);
    out.owner = find.Int(1);
    out.touched = find.Int(2);
    out.session = find.Int(3);
    return true;
}

void BookUpdates::Touch(const std::string& key, const OpenUpdate& open) {
    constexpr int64_t kTouchSeconds = 60;
    if (static_cast<int64_t>(std::time(nullptr)) - open.touched < kTouchSeconds) return;
    ServiceDatabase& db = books_.Database();
    auto lock = db.Lock();
    Statement touch(db, "UPDATE book_stage SET touched = ?2 WHERE key = ?1");
    if (!touch.Ok() || !touch.Bind(1, key).Bind(2, static_cast<int64_t>(std::time(nullptr))).Run())
        DIAG(kModule, 0, "ERR:the update of %s cannot be noted", key.c_str());
}

BeginResult BookUpdates::Begin(const std::string& key, int64_t owner, int64_t session, const std::string& named_id,
                               std::string& id, std::string& why) {
    OpenUpdate open;
    if (FindOpen(key, open)) {
        const bool asked_again = named_id.empty() && session != 0 && open.session == session && !open.id.empty();
        if (!asked_again && (named_id.empty() || open.id != named_id)) return BeginResult::Busy;
        id = open.id;
        Touch(key, open);
    } else {
        // A folder without its row is what a finished update left behind: not a stage.
        CleanUp(key);
        id = RandomHex(16);
        ServiceDatabase& db = books_.Database();
        auto lock = db.Lock();
        Statement count(db, "SELECT count(*) FROM book_stage WHERE owner = ?1");
        if (!count.Ok() || !count.Bind(1, owner).Step()) {
            why = "the update cannot be recorded";
            return BeginResult::Failed;
        }
        if (count.Int(0) >= kMaxOpenUpdates) return BeginResult::TooMany;
        const int64_t now = static_cast<int64_t>(std::time(nullptr));
        Statement start(db,
                        "INSERT INTO book_stage (key, owner, started, update_id, touched, session)"
                        " VALUES (?1, ?2, ?3, ?4, ?3, ?5)");
        // Metadata an earlier stage of the book left is not this update's.
        Statement stale(db, "DELETE FROM staged_book WHERE key = ?1");
        if (!start.Ok() || !start.Bind(1, key).Bind(2, owner).Bind(3, now).Bind(4, id).Bind(5, session).Run() ||
            !stale.Ok() ||
            !stale.Bind(1, key).Run()) {
            why = "the update cannot be recorded";
            return BeginResult::Failed;
        }
    }
    std::error_code error;
    fs::create_directories(books_.StageFolder(key), error);
    if (error) {
        why = "cannot prepare the update: " + error.message();
        return BeginResult::Failed;
    }
    return LinkLiveFiles(key, why) ? BeginResult::Begun : BeginResult::Failed;
}

bool BookUpdates::LinkLiveFiles(const std::string& key, std::string& why) {
    const fs::path live = books_.BookFolder(key);
    const fs::path stage = books_.StageFolder(key);
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(live, error)) {
        const std::string name = entry.path().filename().string();
        std::error_code kind_error;
        const fs::file_status status = entry.symlink_status(kind_error);
        // The live manifest is not carried over: the stage's manifest is the new one.
        if (fs::is_regular_file(status) && IsSafeFileName(name) && name != BookManifest::kFileName) {
            if (!LinkFile(entry.path(), stage / name, why)) return false;
        } else if (fs::is_directory(status) && !name.empty() && IsBookSubFolder(name)) {
            fs::create_directories(stage / name, kind_error);
            for (const auto& file : fs::directory_iterator(entry.path(), kind_error)) {
                const std::string file_name = file.path().filename().string();
                std::error_code file_error;
                if (!fs::is_regular_file(file.symlink_status(file_error)) || !IsSafeFileName(file_name)) continue;
                if (!LinkFile(file.path(), stage / name / file_name, why)) return false;
            }
            if (kind_error) {
                why = "cannot prepare the update: " + kind_error.message();
                return false;
            }
        }
    }
    // A book without a live folder yet (a first publication) has nothing to link.
    if (error && error != std::errc::no_such_file_or_directory) {
        why = "cannot prepare the update: " + error.message();
        return false;
    }
    return true;
}

bool BookUpdates::Commit(const std::string& key, std::string_view manifest_text, std::string& why) {
    if (!books_.IsStaged(key)) {
        why = "no update of this book was begun";
        return false;
    }
    const fs::path stage = books_.StageFolder(key);
    const fs::path live = books_.BookFolder(key);
    std::string text(manifest_text);
    if (text.empty()) {
        // The manifest sent into the stage: its size is checked before it is read.
        struct stat info {};
        const fs::path staged_manifest = stage / BookManifest::kFileName;
        if (::lstat(staged_manifest.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
            why = "the update has no manifest";
            return false;
        }
        if (info.st_size > kMaxManifestBytes) {
            why = "the manifest is larger than 8 MiB";
            return false;
        }
        if (!ReadText(staged_manifest, text)) {
            why = "the update has no manifest";
            return false;
        }
    }
    BookManifest manifest;
    std::string reason;
    if (!BookManifest::Parse(text, manifest, reason)) {
        why = "the manifest is refused: " + reason;
        return false;
    }
    if (manifest.book_key != key) {
        why = "the manifest is of another book";
        return false;
    }
    // The live book's manifest: a staged file that is still the live file itself (the
    // hard link the stage began with, never replaced by an upload) and that it lists
    // alike needs no second reading.
    BookManifest old_manifest;
    const bool old_known = BookManifest::Parse(LiveManifest(key), old_manifest, reason) && old_manifest.book_key == key;
    for (const ManifestEntry& entry : manifest.entries) {
        fs::path file;
        if (entry.path == BookManifest::kFileName || !BookFilePath(stage, entry.path, file)) {
            why = "the manifest lists a file a book cannot hold: " + entry.path;
            return false;
        }
        struct stat info {};
        if (::lstat(file.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
            why = entry.path + " is missing from the update";
            return false;
        }
        if (info.st_size != entry.size) {
            why = entry.path + " is not the size the manifest gives";
            return false;
        }
        fs::path live_file;
        struct stat live_info {};
        const bool unchanged_link = old_known && old_manifest.Holds(entry) && BookFilePath(live, entry.path, live_file) &&
                                    ::lstat(live_file.c_str(), &live_info) == 0 && live_info.st_ino == info.st_ino &&
                                    live_info.st_dev == info.st_dev;
        if (!unchanged_link && FileSha256(file) != entry.sha256) {
            why = entry.path + " does not match its SHA-256 in the manifest";
            return false;
        }
    }
    {
        ServiceDatabase& db = books_.Database();
        auto lock = db.Lock();
        Statement find(db, "SELECT 1 FROM book WHERE key = ?1 UNION ALL SELECT 1 FROM staged_book WHERE key = ?1");
        if (!find.Ok() || !find.Bind(1, key).Step()) {
            why = "unknown book, its metadata comes first";
            return false;
        }
    }

    // Files of the last publication that this one no longer has; the service's own files
    // and files no manifest listed stay.
    if (old_known) {
        for (const ManifestEntry& entry : old_manifest.entries) {
            fs::path file;
            if (!manifest.Find(entry.path) && BookFilePath(stage, entry.path, file)) ::unlink(file.c_str());
        }
    }
    if (!ReplaceFile(stage / BookManifest::kFileName, manifest.Text(), why)) return false;
    const fs::path marker = stage / kSwitchMarker;
    const int marker_fd = ::open(marker.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    if (marker_fd < 0) {
        why = std::string("cannot prepare the switch: ") + std::strerror(errno);
        return false;
    }
    ::close(marker_fd);

    {
        auto switching = books_.LockForSwitch();
        bool exchanged = false;
        if (!ExchangeFolders(stage, live, exchanged, why)) {
            ::unlink(marker.c_str());
            DIAG(kModule, 0, "ERR:%s: %s", key.c_str(), why.c_str());
            return false;
        }
        if (!TakeStagedMetadata(key)) {
            // The metadata did not take: the old book comes back whole.
            bool ignored = false;
            std::string undo_why;
            if (exchanged ? !ExchangeFolders(live, stage, ignored, undo_why) : ::rename(live.c_str(), stage.c_str()) != 0)
                DIAG(kModule, 0, "ERR:%s: the switch cannot be undone", key.c_str());
            ::unlink(marker.c_str());
            why = "the book's metadata cannot be stored";
            return false;
        }
    }
    CleanUp(key);
    DIAG(kModule, 0, "INF:update of %s committed, %zu files", key.c_str(), manifest.entries.size());
    return true;
}

bool BookUpdates::TakeStagedMetadata(const std::string& key) {
    ServiceDatabase& db = books_.Database();
    auto lock = db.Lock();
    const std::string copy =
        UpsertSql("book", kBookColumns, std::string("SELECT ") + kBookColumns + " FROM staged_book WHERE key = ?1");
    if (!db.Begin()) return false;
    bool done = true;
    for (const char* sql : {copy.c_str(), "DELETE FROM staged_book WHERE key = ?1", "DELETE FROM book_stage WHERE key = ?1"}) {
        Statement step(db, sql);
        done = done && step.Ok() && step.Bind(1, key).Run();
    }
    if (done && db.Commit()) return true;
    db.Rollback();
    return false;
}

void BookUpdates::CleanUp(const std::string& key) {
    ::unlink((books_.BookFolder(key) / kSwitchMarker).c_str());
    std::error_code error;
    fs::remove_all(books_.StageFolder(key), error);
    if (error) DIAG(kModule, 0, "ERR:cannot remove the old folder of %s: %s", key.c_str(), error.message().c_str());
}

int BookUpdates::FinishInterrupted() {
    std::vector<std::string> staged;
    {
        ServiceDatabase& db = books_.Database();
        auto lock = db.Lock();
        Statement rows(db, "SELECT key FROM book_stage");
        while (rows.Step()) staged.push_back(rows.Text(0));
    }
    int repaired = 0;
    for (const std::string& key : staged) {
        // Switched but its metadata not yet taken: the commit is completed. Another
        // service process on the same database may be in the middle of that commit:
        // under the book's lock it has finished it.
        if (!Exists(books_.BookFolder(key) / kSwitchMarker)) continue;
        auto book = books_.LockBook(key);
        if (!book || !books_.IsStaged(key) || !Exists(books_.BookFolder(key) / kSwitchMarker)) continue;
        if (TakeStagedMetadata(key)) {
            CleanUp(key);
            ++repaired;
        } else {
            DIAG(kModule, 0, "ERR:the interrupted update of %s cannot be completed", key.c_str());
        }
    }
    // Stage folders without their row are old folders of finished switches.
    const std::string prefix = BookStore::kStagePrefix;
    std::vector<std::string> leftovers;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(books_.Root(), error)) {
        const std::string name = entry.path().filename().string();
        const std::string key = name.rfind(prefix, 0) == 0 ? name.substr(prefix.size()) : std::string();
        if (IsJobKey(key) && !books_.IsStaged(key)) leftovers.push_back(key);
    }
    for (const std::string& key : leftovers) {
        auto book = books_.LockBook(key);
        if (!book || books_.IsStaged(key)) continue;
        CleanUp(key);
        ++repaired;
    }
    return repaired;
}

void BookUpdates::RemoveStage(const std::string& key) {
    ServiceDatabase& db = books_.Database();
    {
        auto lock = db.Lock();
        bool done = db.Begin();
        for (const char* sql : {"DELETE FROM staged_book WHERE key = ?1", "DELETE FROM book_stage WHERE key = ?1"}) {
            Statement step(db, sql);
            done = done && step.Ok() && step.Bind(1, key).Run();
        }
        if (!done || !db.Commit()) {
            db.Rollback();
            DIAG(kModule, 0, "ERR:the stage of %s cannot be ended", key.c_str());
            return;
        }
    }
    // A folder left behind without its row is removed at the next start or stage.
    CleanUp(key);
}

int BookUpdates::RemoveExpired(int64_t expiry_seconds) {
    const auto expired_keys = [&] {
        std::vector<std::string> keys;
        ServiceDatabase& db = books_.Database();
        auto lock = db.Lock();
        Statement rows(db, "SELECT key FROM book_stage WHERE coalesce(touched, started) < ?1");
        rows.Bind(1, static_cast<int64_t>(std::time(nullptr)) - expiry_seconds);
        while (rows.Step()) keys.push_back(rows.Text(0));
        return keys;
    };
    int removed = 0;
    for (const std::string& key : expired_keys()) {
        auto book = books_.LockBook(key);
        if (!book) continue;
        // A request may have touched it meanwhile.
        const std::vector<std::string> still = expired_keys();
        if (std::find(still.begin(), still.end(), key) == still.end()) continue;
        RemoveStage(key);
        DIAG(kModule, 0, "INF:the update of %s expired unfinished and was removed", key.c_str());
        ++removed;
    }
    return removed;
}

}  // namespace service
