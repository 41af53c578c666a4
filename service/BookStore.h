// Published books: their metadata rows (keyed by job key, with the owning account) and
// one folder per book under <data>/books/ holding the uploaded files. Writes of one
// book are serialised by a lock per key; different books never wait for each other.
//
// While a staged update of a book is under way (BookUpdates), its metadata and uploads go
// to a hidden stage folder beside the live one (books/.stage-KEY/, never served) and a
// row of their own; readers keep getting the live book until the update is committed.
#pragma once

#include "service/RequestParsers.h"
#include "service/ServiceDatabase.h"

#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <utility>

namespace service {

struct BookRecord {
    std::string key;
    int64_t owner = 0;
    BookMetadata metadata;
};

enum class SaveResult { Saved, OtherOwner, Failed };

// A book's manifest is read whole; a 1,000-page book's is about 250 KB.
inline constexpr int64_t kMaxManifestBytes = 8 * 1024 * 1024;

// The file data of one upload as it came: the bytes of a whole file or of one chunk, or
// a gzip stream of the whole file (`packed`), and the whole file's announced size (-1
// when none was announced, which a chunk or a packed file may not do).
struct UploadData {
    std::string_view bytes;
    bool packed = false;
    int64_t file_size = -1;
};

// The lock of one book while it changes: the process's own lock of the book, and the
// database's lock of it, which keeps every other service process on the same database
// off the book. False when the database's lock could not be had in time.
class BookLock {
public:
    BookLock(std::unique_lock<std::mutex> local, ServiceDatabase* db, std::string name)
        : local_(std::move(local)), db_(db), name_(std::move(name)) {}
    ~BookLock();
    BookLock(BookLock&& other) noexcept
        : local_(std::move(other.local_)), db_(std::exchange(other.db_, nullptr)), name_(std::move(other.name_)) {}
    BookLock(const BookLock&) = delete;
    BookLock& operator=(const BookLock&) = delete;
    BookLock& operator=(BookLock&&) = delete;

    explicit operator bool() const { return db_ != nullptr; }

private:
    std::unique_lock<std::mutex> local_;
    ServiceDatabase* db_;  // null when the database's lock is not held
    std::string name_;
};

// The columns of a book's row (in the book and staged_book tables), its key first.
inline constexpr const char* kBookColumns =
    "key, owner, title, description, tags, pdf_name, page_count, page_width, page_height, category, subcategory,"
    " country, state, city, pdf_size, cover_width, cover_height, updated";

class BookStore {
public:
    BookStore(ServiceDatabase& db, std::filesystem::path books_root);

    // Hidden name prefix of a book's stage folder in the books folder.
    static constexpr const char* kStagePrefix = ".stage-";

    // The lock every change of one book holds, in this process and across every service
    // process on the same database. It waits at most kBookLockWait for another process.
    BookLock LockBook(const std::string& key);
    static constexpr std::chrono::seconds kBookLockWait{30};
    // Making a book's page reads its metadata and its files; it holds this lock shared,
    // and the end of a staged update holds it alone while it switches both, so that a
    // page is made either all from the old book or all from the new one.
    std::shared_lock<std::shared_mutex> LockForReading() { return std::shared_lock<std::shared_mutex>(switch_mutex_); }
    std::unique_lock<std::shared_mutex> LockForSwitch() { return std::unique_lock<std::shared_mutex>(switch_mutex_); }

    // Stores the book's metadata for `owner` and makes its folder; for a staged update
    // (`staged`) the metadata waits in the stage's row until the update is committed. A
    // book of another account is left alone (OtherOwner).
    SaveResult SaveMetadata(const BookMetadata& metadata, int64_t owner, bool staged);
    // The owning account of a book (or of the staged first publication of one), 0 when
    // the key is unknown.
    int64_t Owner(const std::string& key);
    // True while a staged update of the book is open.
    bool IsStaged(const std::string& key);
    bool Find(const std::string& key, BookRecord& out);

    // Writes one upload (a whole file or one chunk) into the book's folder, or into its
    // stage folder for a staged update (`staged`). Every check the request allows comes
    // before anything is written, and a refused upload leaves the book as it was. An
    // upload that shows a new file in the live folder removes the book's manifest (which
    // then no longer tells what the folder holds) just before the file shows, unless it
    // is the manifest itself.
    // The header's names must have passed the name rules. A file is visible under its
    // name only when it is whole: a whole upload is written (a packed one unpacked as a
    // stream) to a temporary name and renamed over the old file; chunks are gathered in
    // a hidden partial file (chunk k at k * chunk size, after chunks 0 .. k-1) that is
    // renamed into place when it reaches the announced size. A ".js" file is taken only
    // when it is book data (BookDataScript). The caller holds the book's lock.
    bool WriteUpload(const UploadHeader& header, const UploadData& upload, bool staged, std::string& why);

    // Removes what uploads cut off by a crash left behind: temporary and partial files
    // in every book folder, of those only the files untouched for `min_age` (other
    // service processes sharing the folder may be writing the newer ones). Returns how
    // many were removed.
    int RemoveLeftovers(std::chrono::seconds min_age = std::chrono::seconds(0));

    // Where a stored file of a book is (it may not exist).
    std::filesystem::path FilePath(const std::string& key, const std::string& sub_folder,
                                   const std::string& name) const;
    std::filesystem::path BookFolder(const std::string& key) const { return root_ / key; }
    std::filesystem::path StageFolder(const std::string& key) const { return root_ / (kStagePrefix + key); }
    const std::filesystem::path& Root() const { return root_; }
    ServiceDatabase& Database() { return db_; }

private:
    ServiceDatabase& db_;
    std::filesystem::path root_;
    std::mutex locks_mutex_;
    std::map<std::string, std::shared_ptr<std::mutex>> locks_;
    std::shared_mutex switch_mutex_;
};

// Writes `data` as the whole content of `target`: a temporary file beside it, its
// write-out started, then renamed over it, so the name never shows a half-written file.
bool ReplaceFile(const std::filesystem::path& target, std::string_view data, std::string& why);
// The same with the content written by `fill` into the open temporary file; `before_rename`
// runs once the content is complete, just before the rename (false: nothing is stored).
bool ReplaceFileWith(const std::filesystem::path& target, const std::function<bool(int fd, std::string& why)>& fill,
                     const std::function<bool()>& before_rename, std::string& why);

}  // namespace service
