// Staged updates of published books: the owner sends an update of a book into a hidden
// stage folder (books/.stage-KEY/, first filled with hard links of the live book's files,
// so that unchanged files need not be sent again) and commits it with the book's new
// manifest. The commit checks the stage against the manifest and then exchanges the stage
// and the live folder in one rename (and the staged metadata in the same locked step), so
// a reader gets the whole old book or the whole new one, never a mix. An update cut off
// (client or service stopped) leaves the live book as it was; its stage is kept across a
// restart, and beginning the update again continues it.
//
// Callers hold the book's lock (BookStore::LockBook) and have checked the owner.
#pragma once

#include "service/BookStore.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace service {

class BookUpdates {
public:
    explicit BookUpdates(BookStore& books);

    // The text of the live book's manifest; empty when it has none.
    std::string LiveManifest(const std::string& key);

    // Begins a staged update of the book for `owner`, or continues the one under way:
    // live files missing from the stage are linked into it, staged files stay.
    bool Begin(const std::string& key, int64_t owner, std::string& why);

    // Ends the staged update with `manifest_text` (empty: the manifest uploaded into the
    // stage as book-manifest.txt). Every file the manifest lists must be in the stage
    // with its size and SHA-256; files the live manifest listed and this one does not
    // are removed from the stage; then the stage becomes the live book. Nothing changes
    // when it is refused.
    bool Commit(const std::string& key, std::string_view manifest_text, std::string& why);

    // At start-up, before any request: completes a commit that a stopped service left
    // between its folder switch and its metadata, and removes the old folders of
    // finished commits. Returns how many books it had to repair.
    int FinishInterrupted();

private:
    bool LinkLiveFiles(const std::string& key, std::string& why);
    // Moves the staged metadata into the book's row and ends the stage's row.
    bool TakeStagedMetadata(const std::string& key);
    // Removes what a finished switch left: the old folder and the live switch marker.
    void CleanUp(const std::string& key);

    BookStore& books_;
};

}  // namespace service
