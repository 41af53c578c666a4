// Published books: their metadata rows (keyed by job key, with the owning account) and
// one folder per book under <data>/books/ holding the uploaded files. Writes of one
// book are serialised by a lock per key; different books never wait for each other.
#pragma once

#include "service/RequestParsers.h"
#include "service/ServiceDatabase.h"

#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <string>

namespace service {

struct BookRecord {
    std::string key;
    int64_t owner = 0;
    BookMetadata metadata;
};

enum class SaveResult { Saved, OtherOwner, Failed };

class BookStore {
public:
    BookStore(ServiceDatabase& db, std::filesystem::path books_root);

    // The lock every change of one book holds.
    std::unique_lock<std::mutex> LockBook(const std::string& key);

    // Stores the book's metadata for `owner` and makes its folder. A book of another
    // account is left alone (OtherOwner).
    SaveResult SaveMetadata(const BookMetadata& metadata, int64_t owner);
    // The owning account of a book, 0 when the key is unknown.
    int64_t Owner(const std::string& key);
    bool Find(const std::string& key, BookRecord& out);

    // Writes the bytes of one upload (a whole file or one chunk) into the book's folder.
    // The header's names must have passed the name rules; `file_size` is the size the
    // client announced for the whole file (-1 when it announced none, which a chunk may
    // not do). A file is visible under its name only when it is whole: a whole upload is
    // written to a temporary name and renamed over the old file; chunks are gathered in
    // a hidden partial file (chunk k at k * chunk size, after chunks 0 .. k-1) that is
    // renamed into place when it reaches `file_size`. A ".js" file is taken only when it
    // is book data (BookDataScript). The caller holds the book's lock.
    bool WriteUpload(const UploadHeader& header, std::string_view data, int64_t file_size, std::string& why);

    // Removes what uploads cut off by a crash left behind: temporary and partial files
    // in every book folder. Returns how many were removed.
    int RemoveLeftovers();

    // Where a stored file of a book is (it may not exist).
    std::filesystem::path FilePath(const std::string& key, const std::string& sub_folder,
                                   const std::string& name) const;
    std::filesystem::path BookFolder(const std::string& key) const { return root_ / key; }

private:
    ServiceDatabase& db_;
    std::filesystem::path root_;
    std::mutex locks_mutex_;
    std::map<std::string, std::shared_ptr<std::mutex>> locks_;
};

}  // namespace service
