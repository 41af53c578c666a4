// What one publication of a book sends and removes, compared with the manifest the
// target already holds: files the target holds unchanged are not sent again, and files
// that an earlier publication put there but the book no longer has are removed (never
// any other file of the target).
#pragma once

#include "config/BookManifest.h"

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

// A file of a publication: its path in the book folder and the local file sent there.
using PublishedFile = std::pair<std::string, std::filesystem::path>;

// The name the source PDF has beside the book on a target: its own file name.
std::string PublishedPdfName(const std::string& pdf_path);

// The files one publication of the book folder sends, in the book's own folders:
// the PDF (when `pdf_path` is not empty), every page's images (print images only when the
// book has them), the cover and link-preview picture, the sharp zoom's tiles and their
// index (when the book has them), the book's
// page (`with_page`: FTP only, the service makes its own) and the search and layout files.
std::vector<PublishedFile> PublishedFiles(const std::string& book_folder, const std::string& pdf_path,
                                          int32_t page_count, bool with_page);

// Hashes the files a publication of the book `book_key` in `book_folder` sends (the PDF
// aside) into the book's hash cache, so that each later publication compares without
// reading the whole book again. False when the cache could not be written.
bool RememberPublishedHashes(const std::string& book_key, const std::string& book_folder, int32_t page_count);

class PublishDelta {
public:
    // No comparison: every file is sent, nothing is removed, no manifest is written.
    PublishDelta() = default;
    // `held` is the text of the manifest the target holds (empty: none). A manifest of
    // another book or one that cannot be read counts as none.
    PublishDelta(BookManifest local, const std::string& held);

    // False when the book's own manifest could not be made.
    bool Known() const { return known_; }
    bool Unchanged(const std::string& path) const { return known_ && held_.Holds(ManifestEntryOf(path)); }
    // Files the held manifest lists and the book no longer has.
    std::vector<std::string> Vanished() const;
    const BookManifest& Local() const { return local_; }
    const BookManifest& Held() const { return held_; }

private:
    ManifestEntry ManifestEntryOf(const std::string& path) const;

    bool known_ = false;
    BookManifest local_;
    BookManifest held_;
};
