// Answers the binary messages the desktop program posts to the service path: login,
// version check, reference update, book metadata and file uploads. Every body, however
// malformed, gets a reply: the client's reply forms on success, an "ERR:" text (or "0"
// for a refused login) otherwise.
//
// A login answers a session number in its body and a secret session key beside it (a
// reply header); the client quotes the key with every later message. Book metadata and
// uploads are taken only with the key of a live login of the book's owner, whatever
// address they come from.
//
// The owner may also update a published book in one step (BookUpdates): "mani" asks for
// the live book's manifest, "stag" begins or continues a staged update and answers its
// id, "comm" commits it with the new manifest. Metadata and uploads that name the update
// go to its stage; a request naming an update that is no longer open, and a request
// naming none while the book has one open, is refused and changes nothing.
#pragma once

#include "service/AccountStore.h"
#include "service/BookStore.h"
#include "service/BookUpdates.h"
#include "service/ReferenceSync.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace service {

// What the transport knows of a message besides its body.
struct ClientContext {
    std::string address;      // the client's IP address
    std::string session_key;  // the key the client quoted, empty when none
    int64_t file_size = -1;   // the whole file's size an upload announced, -1 when none
    std::string file_encoding;  // how an upload's file data is packed, empty when it is not
    std::string update_id;      // the staged update the request belongs to, empty when none
};

// The one packing of file data the service unpacks, and the largest file it unpacks.
inline constexpr const char* kPackedFileEncoding = "gzip";
inline constexpr int64_t kMaxUnpackedFileBytes = 64 * 1024 * 1024;

struct ClientReply {
    std::string body;
    std::string session_key;  // set by a successful login, for the client to quote
    std::string update_id{};  // set by a begun update, for the client to name in its requests
};

// The start of the refusal of a request that must wait until the book's open update ends.
inline constexpr const char* kBusyRefusal = "ERR:busy: ";

class ClientRequests {
public:
    ClientRequests(AccountStore& accounts, BookStore& books, BookUpdates& updates, ReferenceSync& reference,
                   uint64_t latest_build);

    ClientReply Handle(std::string_view body, const ClientContext& context);

private:
    ClientReply Login(std::string_view payload, const std::string& address);
    std::string ReferenceUpdate(std::string_view payload);
    std::string Metadata(std::string_view payload, const ClientContext& context);
    std::string Upload(std::string_view body, const ClientContext& context);
    std::string Manifest(std::string_view payload, const ClientContext& context);
    // Begins or continues a staged update; its id in `id`.
    std::string BeginUpdate(std::string_view payload, const ClientContext& context, std::string& id);
    // Where a request of the book goes, the caller holding the book's lock: into the
    // stage (`staged`) when it names the open update, else into the live book when no
    // update is open. An empty text when allowed, else the refusal.
    std::string UpdateTarget(const std::string& key, const std::string& named_id, bool& staged);
    std::string CommitUpdate(std::string_view payload, const ClientContext& context);
    // The owner check of the update requests: the book key at the start of `payload`
    // (set in `key`) and the account of the session, which must own the book; `owner` is
    // 0 for a key no book has yet. An empty text when allowed, else the refusal.
    std::string CheckUpdater(std::string_view payload, const ClientContext& context, std::string& key,
                             int64_t& account, int64_t& owner);

    AccountStore& accounts_;
    BookStore& books_;
    BookUpdates& updates_;
    ReferenceSync& reference_;
    uint64_t latest_build_;
};

// Gives a book with a blank title the PDF's file name (without ".pdf"), or "Untitled"
// when that is empty too. True when the title was changed.
bool SupplyTitle(BookMetadata& metadata);

}  // namespace service
