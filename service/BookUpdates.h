// Staged updates of published books: the owner sends an update of a book into a hidden
// stage folder (books/.stage-KEY/, first filled with hard links of the live book's files,
// so that unchanged files need not be sent again) and commits it with the book's new
// manifest. The commit checks the stage against the manifest and then exchanges the stage
// and the live folder in one rename (and the staged metadata in the same locked step), so
// a reader gets the whole old book or the whole new one, never a mix. An update cut off
// (client or service stopped) leaves the live book as it was; its stage is kept across a
// restart, and beginning the update again under its id continues it.
//
// An update is one unit: beginning it gives it an id that its metadata, uploads and
// commit name, and a book has at most one open update, so two sessions of one owner never
// write into one stage. An account has at most kMaxOpenUpdates open at once, and a stage
// untouched for the expiry time is removed (at start-up and by a periodic sweep).
//
// Callers hold the book's lock (BookStore::LockBook) and have checked the owner.
#pragma once

#include "service/BookStore.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace service {

// Open updates one account may have at once.
inline constexpr int kMaxOpenUpdates = 4;

// The open update of a book.
struct OpenUpdate {
    std::string id;      // empty for a stage of a service before update ids: none can name it
    int64_t owner = 0;
    int64_t touched = 0;  // when a request of it last came (seconds since 1970)
    int64_t session = 0;  // the login session (its token) that began it; 0: unknown
};

enum class BeginResult { Begun, Busy, TooMany, Failed };

class BookUpdates {
public:
    explicit BookUpdates(BookStore& books);

    // The text of the live book's manifest; empty when it has none.
    std::string LiveManifest(const std::string& key);

    // The book's open update; false when it has none.
    bool FindOpen(const std::string& key, OpenUpdate& out);
    // Notes that a request of the book's open update `open` came now. The time is
    // written at most once a minute: a database write per upload would cost a flush.
    void Touch(const std::string& key, const OpenUpdate& open);

    // Begins a staged update of the book for `owner`'s session `session` and sets `id`;
    // or, when `named_id` names the book's open update, continues it: live files missing
    // from the stage are linked into it, staged files stay. A session that began the open
    // update and names none gets it again: the answer of its begin was lost (a service
    // process died, a connection broke) and it asks again. Busy while another update of
    // the book is open; TooMany when `owner` has kMaxOpenUpdates open already.
    BeginResult Begin(const std::string& key, int64_t owner, int64_t session, const std::string& named_id,
                      std::string& id, std::string& why);

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

    // Removes every open update untouched for more than `expiry_seconds`: its stage
    // folder and rows. Takes each book's lock itself. Returns how many it removed.
    int RemoveExpired(int64_t expiry_seconds);

private:
    // Ends the book's open update without committing it.
    void RemoveStage(const std::string& key);
    bool LinkLiveFiles(const std::string& key, std::string& why);
    // Moves the staged metadata into the book's row and ends the stage's row.
    bool TakeStagedMetadata(const std::string& key);
    // Removes what a finished switch left: the old folder and the live switch marker.
    void CleanUp(const std::string& key);

    BookStore& books_;
};

}  // namespace service
