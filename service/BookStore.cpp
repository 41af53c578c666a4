#include "service/BookStore.h"

#include "config/DiagLog.h"
#include "service/RandomHex.h"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace service {
namespace {

constexpr const char* kModule = "BookStore";

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

// Writes `data` as the whole content of `target`: a temporary file beside it, flushed,
// then renamed over it, so the name never shows a half-written file.
bool ReplaceFile(const fs::path& target, std::string_view data, std::string& why) {
    const fs::path temp = target.parent_path() / (".tmp-" + RandomHex(8));
    {
        Descriptor file(::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644));
        if (file.fd < 0 || !WriteAt(file.fd, data, 0) || ::fdatasync(file.fd) != 0) {
            why = std::string("cannot write the file: ") + std::strerror(errno);
            ::unlink(temp.c_str());
            return false;
        }
    }
    if (::rename(temp.c_str(), target.c_str()) != 0) {
        why = std::string("cannot store the file: ") + std::strerror(errno);
        ::unlink(temp.c_str());
        return false;
    }
    return true;
}

}  // namespace

BookStore::BookStore(ServiceDatabase& db, fs::path books_root) : db_(db), root_(std::move(books_root)) {}

std::unique_lock<std::mutex> BookStore::LockBook(const std::string& key) {
    std::shared_ptr<std::mutex> lock;
    {
        std::lock_guard<std::mutex> guard(locks_mutex_);
        auto& slot = locks_[key];
        if (!slot) slot = std::make_shared<std::mutex>();
        lock = slot;
    }
    // The map keeps the mutex alive for the life of the service (one per book).
    return std::unique_lock<std::mutex>(*lock);
}

SaveResult BookStore::SaveMetadata(const BookMetadata& m, int64_t owner) {
    const int64_t current = Owner(m.key);
    if (current != 0 && current != owner) return SaveResult::OtherOwner;
    std::error_code error;
    fs::create_directories(BookFolder(m.key), error);
    if (error) {
        DIAG(kModule, 0, "ERR:cannot make the folder of %s: %s", m.key.c_str(), error.message().c_str());
        return SaveResult::Failed;
    }
    auto lock = db_.Lock();
    Statement save(db_.Handle(),
                   "INSERT OR REPLACE INTO book (key, owner, title, description, tags, pdf_name, page_count,"
                   " page_width, page_height, category, subcategory, country, state, city, pdf_size, cover_width,"
                   " cover_height, updated) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13, ?14,"
                   " ?15, ?16, ?17, ?18)");
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
    Statement find(db_.Handle(), "SELECT owner FROM book WHERE key = ?1");
    return find.Ok() && find.Bind(1, key).Step() ? find.Int(0) : 0;
}

bool BookStore::Find(const std::string& key, BookRecord& out) {
    auto lock = db_.Lock();
    Statement find(db_.Handle(),
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

bool BookStore::WriteUpload(const UploadHeader& header, std::string_view data, std::string& why) {
    const fs::path target = FilePath(header.key, header.sub_folder, header.file_name);
    std::error_code error;
    fs::create_directories(target.parent_path(), error);
    if (error) {
        why = "cannot make the folder: " + error.message();
        return false;
    }
    if (!header.chunked || header.chunk_index == 0) return ReplaceFile(target, data, why);

    const off_t offset = static_cast<off_t>(header.chunk_index) * header.chunk_kib * 1024;
    Descriptor file(::open(target.c_str(), O_WRONLY | O_NOFOLLOW | O_CLOEXEC));
    struct stat info {};
    if (file.fd < 0 || ::fstat(file.fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size < offset) {
        why = "chunk " + std::to_string(header.chunk_index) + " arrived before the chunks ahead of it";
        return false;
    }
    if (!WriteAt(file.fd, data, offset) || ::ftruncate(file.fd, offset + static_cast<off_t>(data.size())) != 0 ||
        ::fdatasync(file.fd) != 0) {
        why = std::string("cannot write the chunk: ") + std::strerror(errno);
        return false;
    }
    return true;
}

}  // namespace service
