#include "service/BookStore.h"

#include "config/BookManifest.h"
#include "config/DiagLog.h"
#include "service/BookDataScript.h"
#include "service/PackedFile.h"
#include "service/RandomHex.h"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;

namespace service {
namespace {

constexpr const char* kModule = "BookStore";
// Hidden names (never served) of files being written: whole uploads and gathered chunks.
constexpr const char* kTempPrefix = ".tmp-";
constexpr const char* kPartialPrefix = ".partial-";
// The text of a long book is a few MB.
constexpr int64_t kMaxScriptBytes = 64 * 1024 * 1024;

// An open descriptor, closed when it goes.
struct Descriptor {
    int fd = -1;
    explicit Descriptor(int value) : fd(value) {}
    ~Descriptor() {
        if (fd >= 0) ::close(fd);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
};

bool WriteAt(int fd, std::string_view data, off_t offset) {
    while (!data.empty()) {
        const ssize_t written = ::pwrite(fd, data.data(), data.size(), offset);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;
        data.remove_prefix(static_cast<size_t>(written));
        offset += written;
    }
    return true;
}

// Starts writing the file's bytes to the disk and returns without waiting for the disk.
// An upload is answered "OK" without a flush (fdatasync): a crash of the service process
// loses nothing, since the kernel keeps what was written, but a power cut may lose the
// uploads of the last moments, as with an FTP server that does not sync. Waiting for the
// disk took 0.5 to 2 ms for each file, a fifth to a half of the time a book of a
// thousand files took to publish on loopback. Starting the write-out before the rename
// keeps the name honest: the file system places the bytes before the rename that shows
// them, so where it writes data before the metadata that points to it (ext4's default
// ordered mode) a power cut leaves the old state or the whole file, never the new name
// on a short file.
bool StartWriteOut(int fd) {
    return ::sync_file_range(fd, 0, 0, SYNC_FILE_RANGE_WRITE) == 0;
}

// Writes `data` as the file's content from its start.
bool WriteContent(int fd, std::string_view data, std::string& why) {
    if (WriteAt(fd, data, 0)) return true;
    why = std::string("cannot write the file: ") + std::strerror(errno);
    return false;
}

bool MakeFolder(const fs::path& folder, std::string& why) {
    std::error_code error;
    fs::create_directories(folder, error);
    if (error) why = "cannot make the folder: " + error.message();
    return !error;
}

}  // namespace

bool ReplaceFile(const fs::path& target, std::string_view data, std::string& why) {
    return ReplaceFileWith(
        target, [data](int fd, std::string& fill_why) { return WriteContent(fd, data, fill_why); },
        [] { return true; }, why);
}

bool ReplaceFileWith(const fs::path& target, const std::function<bool(int fd, std::string& why)>& fill,
                     const std::function<bool()>& before_rename, std::string& why) {
    const fs::path temp = target.parent_path() / (std::string(kTempPrefix) + RandomHex(8));
    {
        Descriptor file(::open(temp.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644));
        if (file.fd < 0) {
            why = std::string("cannot write the file: ") + std::strerror(errno);
            return false;
        }
        if (!fill(file.fd, why)) {
            ::unlink(temp.c_str());
            return false;
        }
        if (!StartWriteOut(file.fd)) {
            why = std::string("cannot write the file: ") + std::strerror(errno);
            ::unlink(temp.c_str());
            return false;
        }
    }
    if (!before_rename() || ::rename(temp.c_str(), target.c_str()) != 0) {
        why = std::string("cannot store the file: ") + std::strerror(errno);
        ::unlink(temp.c_str());
        return false;
    }
    return true;
}

namespace {

// True when `path` holds `size` bytes and `data` at `offset`.
bool SameBytesAt(const fs::path& path, std::string_view data, int64_t offset, int64_t size) {
    Descriptor file(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    struct stat info {};
    if (file.fd < 0 || ::fstat(file.fd, &info) != 0 || info.st_size != size) return false;
    std::string stored(data.size(), '\0');
    const ssize_t got = ::pread(file.fd, stored.data(), stored.size(), offset);
    return got == static_cast<ssize_t>(data.size()) && stored == data;
}

}  // namespace

BookStore::BookStore(ServiceDatabase& db, fs::path books_root) : db_(db), root_(std::move(books_root)) {}

BookLock::~BookLock() {
    if (db_) db_->Release(name_);
}

BookLock BookStore::LockBook(const std::string& key) {
    std::shared_ptr<std::mutex> lock;
    {
        std::lock_guard<std::mutex> guard(locks_mutex_);
        auto& slot = locks_[key];
        if (!slot) slot = std::make_shared<std::mutex>();
        lock = slot;
    }
    // The map keeps the mutex alive for the life of the service (one per book).
    std::unique_lock<std::mutex> local(*lock);
    // The database's lock is asked for again and again rather than waited for, so
    // that this process's other requests keep the connection that holds the locks.
    const std::string name = "book:" + key;
    const auto end = std::chrono::steady_clock::now() + kBookLockWait;
    for (auto pause = std::chrono::milliseconds(1);; pause = std::min(pause * 2, std::chrono::milliseconds(50))) {
        if (db_.TryHold(name)) return BookLock(std::move(local), &db_, name);
        if (std::chrono::steady_clock::now() >= end) break;
        std::this_thread::sleep_for(pause);
    }
    DIAG(kModule, 0, "ERR:%s stayed locked by another service for %lld s", key.c_str(),
         static_cast<long long>(kBookLockWait.count()));
    return BookLock(std::move(local), nullptr, name);
}

SaveResult BookStore::SaveMetadata(const BookMetadata& m, int64_t owner, bool staged) {
    const int64_t current = Owner(m.key);
    if (current != 0 && current != owner) return SaveResult::OtherOwner;
    std::error_code error;
    fs::create_directories(staged ? StageFolder(m.key) : BookFolder(m.key), error);
    if (error) {
        DIAG(kModule, 0, "ERR:cannot make the folder of %s: %s", m.key.c_str(), error.message().c_str());
        return SaveResult::Failed;
    }
    const std::string sql = UpsertSql(staged ? "staged_book" : "book", kBookColumns,
                                      "VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13, ?14, ?15, ?16,"
                                      " ?17, ?18)");
    auto lock = db_.Lock();
    Statement save(db_, sql.c_str());
    if (!save.Ok()) return SaveResult::Failed;
    save.Bind(1, m.key).Bind(2, owner).Bind(3, m.title).Bind(4, m.description).Bind(5, m.tags).Bind(6, m.pdf_name);
    save.Bind(7, m.page_count).Bind(8, m.page_width).Bind(9, m.page_height).Bind(10, m.category_id);
    save.Bind(11, m.subcategory_id).Bind(12, m.country_id).Bind(13, m.state_id).Bind(14, m.city_id);
    save.Bind(15, m.pdf_size).Bind(16, m.cover_width).Bind(17, m.cover_height);
    save.Bind(18, static_cast<int64_t>(std::time(nullptr)));
    return save.Run() ? SaveResult::Saved : SaveResult::Failed;
}

int64_t BookStore::Owner(const std::string& key) {
    auto lock = db_.Lock();
    Statement find(db_,
                   "SELECT owner FROM book WHERE key = ?1 UNION ALL SELECT owner FROM book_stage WHERE key = ?1");
    return find.Ok() && find.Bind(1, key).Step() ? find.Int(0) : 0;
}

bool BookStore::IsStaged(const std::string& key) {
    auto lock = db_.Lock();
    Statement find(db_, "SELECT 1 FROM book_stage WHERE key = ?1");
    return find.Ok() && find.Bind(1, key).Step();
}

bool BookStore::Find(const std::string& key, BookRecord& out) {
    auto lock = db_.Lock();
    Statement find(db_,
                   "SELECT owner, title, description, tags, pdf_name, page_count, page_width, page_height,"
                   " cover_width, cover_height FROM book WHERE key = ?1");
    if (!find.Ok() || !find.Bind(1, key).Step()) return false;
    out.key = key;
    out.owner = find.Int(0);
    out.metadata.key = key;
    out.metadata.title = find.Text(1);
    out.metadata.description = find.Text(2);
    out.metadata.tags = find.Text(3);
    out.metadata.pdf_name = find.Text(4);
    out.metadata.page_count = find.Int(5);
    out.metadata.page_width = find.Int(6);
    out.metadata.page_height = find.Int(7);
    out.metadata.cover_width = find.Int(8);
    out.metadata.cover_height = find.Int(9);
    return true;
}

fs::path BookStore::FilePath(const std::string& key, const std::string& sub_folder, const std::string& name) const {
    fs::path path = BookFolder(key);
    if (!sub_folder.empty()) path /= sub_folder;
    return path / name;
}

bool BookStore::WriteUpload(const UploadHeader& header, const UploadData& upload, bool staged, std::string& why) {
    fs::path target = staged ? StageFolder(header.key) : BookFolder(header.key);
    if (!header.sub_folder.empty()) target /= header.sub_folder;
    target /= header.file_name;
    const bool manifest = header.sub_folder.empty() && header.file_name == BookManifest::kFileName;
    const bool script = IsScriptName(header.file_name);
    const int64_t file_size = upload.file_size;
    // Every check that needs no more than the request comes before anything is written.
    if (manifest && (file_size > kMaxManifestBytes || static_cast<int64_t>(upload.bytes.size()) > kMaxManifestBytes)) {
        why = "a manifest cannot be this large";
        return false;
    }
    if (script && file_size > kMaxScriptBytes) {
        why = "a script of a book folder cannot be this large";
        return false;
    }
    // A new file in the live book makes its manifest untrue: the manifest is dropped
    // just before the file shows, once every check has passed.
    const auto drop_manifest = [&] {
        if (!staged && !manifest) ::unlink((BookFolder(header.key) / BookManifest::kFileName).c_str());
        return true;
    };
    if (!header.chunked) {
        if (!upload.packed && file_size >= 0 && static_cast<uint64_t>(file_size) != upload.bytes.size()) {
            why = "the file is not the size announced";
            return false;
        }
        if (!upload.packed && script && !IsBookDataScript(upload.bytes)) {
            why = "a script of a book folder must be book data";
            return false;
        }
        if (!MakeFolder(target.parent_path(), why)) return false;
        const auto fill = [&](int fd, std::string& fill_why) {
            if (!upload.packed) return WriteContent(fd, upload.bytes, fill_why);
            if (!UnpackToFile(upload.bytes, file_size, fd, fill_why)) return false;
            if (script && !FileIsBookDataScript(fd, file_size)) {
                fill_why = "a script of a book folder must be book data";
                return false;
            }
            return true;
        };
        return ReplaceFileWith(target, fill, drop_manifest, why);
    }
    if (file_size < 0) {
        why = "file size missing";
        return false;
    }
    // Room for the hidden prefix in a file name of at most 255 bytes.
    if (header.file_name.size() > 200) {
        why = "file name too long for a file sent in chunks";
        return false;
    }
    const int64_t offset = static_cast<int64_t>(header.chunk_index) * header.chunk_kib * 1024;
    const int64_t end = offset + static_cast<int64_t>(upload.bytes.size());
    if (end > file_size) {
        why = "more bytes than the file size announced";
        return false;
    }
    // The first chunk may make the folder; a later one finds it with its partial file.
    if (header.chunk_index == 0 && !MakeFolder(target.parent_path(), why)) return false;
    const fs::path partial = target.parent_path() / (std::string(kPartialPrefix) + header.file_name);
    const int flags = header.chunk_index == 0 ? O_WRONLY | O_CREAT | O_TRUNC : O_RDWR;
    Descriptor file(::open(partial.c_str(), flags | O_NOFOLLOW | O_CLOEXEC, 0644));
    struct stat info {};
    if (file.fd < 0 || ::fstat(file.fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size < offset) {
        // The last chunk sent again after its answer was lost: the file is in place.
        if (file.fd < 0 && end == file_size && SameBytesAt(target, upload.bytes, offset, file_size)) return true;
        why = "chunk " + std::to_string(header.chunk_index) + " arrived before the chunks ahead of it";
        return false;
    }
    if (!WriteAt(file.fd, upload.bytes, offset) || ::ftruncate(file.fd, end) != 0) {
        why = std::string("cannot write the chunk: ") + std::strerror(errno);
        return false;
    }
    if (end < file_size) return true;
    if (script && !FileIsBookDataScript(file.fd, file_size)) {
        ::unlink(partial.c_str());
        why = "a script of a book folder must be book data";
        return false;
    }
    if (!StartWriteOut(file.fd) || !drop_manifest() || ::rename(partial.c_str(), target.c_str()) != 0) {
        why = std::string("cannot store the file: ") + std::strerror(errno);
        return false;
    }
    return true;
}

int BookStore::RemoveLeftovers(std::chrono::seconds min_age) {
    const auto before = fs::file_time_type::clock::now() - min_age;
    int removed = 0;
    std::error_code error;
    for (auto it = fs::recursive_directory_iterator(root_, error); !error && it != fs::recursive_directory_iterator();
         it.increment(error)) {
        if (it.depth() > 2) it.disable_recursion_pending();
        const std::string name = it->path().filename().string();
        if (!it->is_regular_file(error)) continue;
        if (name.rfind(kTempPrefix, 0) == 0 || name.rfind(kPartialPrefix, 0) == 0) {
            std::error_code ignored;
            if (min_age.count() > 0 && it->last_write_time(ignored) > before) continue;
            if (fs::remove(it->path(), ignored)) ++removed;
        }
    }
    return removed;
}

}  // namespace service
