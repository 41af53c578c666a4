#include "service/ClientRequests.h"

#include "config/DiagLog.h"
#include "config/JobKey.h"
#include "service/NameRules.h"

namespace service {
namespace {

constexpr const char* kModule = "ClientRequests";

// "OK", NUL, "5", NUL: the client's status 5, the service changed the title.
const std::string kTitleChangedReply("OK\0" "5\0", 5);

std::string Refuse(const std::string& why) {
    DIAG(kModule, 0, "INF:refused: %s", why.c_str());
    return "ERR:" + why;
}

// The book stayed locked by another service process; the client tries again later.
std::string BookBusy() {
    return std::string(kBusyRefusal) + "the book is being changed by another service; try again later";
}

}  // namespace

bool SupplyTitle(BookMetadata& metadata) {
    if (metadata.title.find_first_not_of(" \t\r\n") != std::string::npos) return false;
    std::string name = metadata.pdf_name;
    const size_t dot = name.size() >= 4 ? name.size() - 4 : std::string::npos;
    if (dot != std::string::npos) {
        std::string extension = name.substr(dot);
        for (char& c : extension) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
        if (extension == ".pdf") name.resize(dot);
    }
    metadata.title = name.find_first_not_of(" \t\r\n") == std::string::npos ? "Untitled" : name;
    return true;
}

ClientRequests::ClientRequests(AccountStore& accounts, BookStore& books, BookUpdates& updates,
                               ReferenceSync& reference, uint64_t latest_build)
    : accounts_(accounts), books_(books), updates_(updates), reference_(reference), latest_build_(latest_build) {}

ClientReply ClientRequests::Handle(std::string_view body, const ClientContext& context) {
    // The client's probe: every message is preceded by an empty POST.
    if (body.empty()) return {};
    const std::string_view code = RequestCode(body);
    const std::string_view payload = body.size() > 4 ? body.substr(4) : std::string_view();
    if (code == "logi") return Login(payload, context.address);
    if (code == "upgr") return {std::to_string(latest_build_), {}};
    if (code == "updt") return {ReferenceUpdate(payload), {}};
    if (code == "meta") return {Metadata(payload, context), {}};
    if (code == "upld") return {Upload(body, context), {}};
    if (code == "mani") return {Manifest(payload, context), {}};
    if (code == "stag") {
        ClientReply reply;
        reply.body = BeginUpdate(payload, context, reply.update_id);
        return reply;
    }
    if (code == "comm") return {CommitUpdate(payload, context), {}};
    return {Refuse("unknown request"), {}};
}

ClientReply ClientRequests::Login(std::string_view payload, const std::string& address) {
    LoginRequest login;
    if (!ParseLogin(payload, login)) {
        DIAG(kModule, 0, "INF:refused: malformed login from %s", address.c_str());
        return {"0", {}};
    }
    const LoginOutcome outcome = accounts_.Login(login.user, login.password, address);
    if (outcome.throttled) {
        DIAG(kModule, 0, "INF:login for %s from %s refused for %lld s after repeated failures", login.user.c_str(),
             address.c_str(), static_cast<long long>(outcome.retry_after_seconds));
    } else if (outcome.token == 0) {
        DIAG(kModule, 0, "INF:login refused for %s from %s", login.user.c_str(), address.c_str());
    }
    return {std::to_string(outcome.token), outcome.token != 0 ? outcome.key : std::string()};
}

std::string ClientRequests::ReferenceUpdate(std::string_view payload) {
    ReferenceIds ids;
    if (!ParseReferenceIds(payload, ids)) return Refuse("malformed reference ids");
    std::string sql;
    if (!reference_.BuildUpdate(ids, sql)) return Refuse("reference database unreadable");
    return LengthPrefixed(sql);
}

std::string ClientRequests::Metadata(std::string_view payload, const ClientContext& context) {
    BookMetadata metadata;
    std::string why;
    if (!ParseMetadata(payload, metadata, why)) return Refuse(why);
    if (!IsJobKey(metadata.key)) return Refuse("malformed book key");
    const SessionInfo session = accounts_.SessionByKey(context.session_key);
    // The number in the body must be the one this key's login answered.
    if (session.account == 0 || session.token != metadata.user_row_id) return Refuse("not logged in");
    const bool title_changed = SupplyTitle(metadata);
    auto lock = books_.LockBook(metadata.key);
    if (!lock) return BookBusy();
    const int64_t owner = books_.Owner(metadata.key);
    if (owner != 0 && owner != session.account) return Refuse("the book belongs to another account");
    bool staged = false;
    if (std::string refused = UpdateTarget(metadata.key, context.update_id, staged); !refused.empty()) return refused;
    switch (books_.SaveMetadata(metadata, session.account, staged)) {
        case SaveResult::Saved: return title_changed ? kTitleChangedReply : "OK";
        case SaveResult::OtherOwner: return Refuse("the book belongs to another account");
        case SaveResult::Failed: break;
    }
    return Refuse("the book cannot be stored");
}

std::string ClientRequests::Upload(std::string_view body, const ClientContext& context) {
    UploadHeader header;
    std::string why;
    if (!ParseUploadHeader(body, header, why)) return Refuse(why);
    if (!IsJobKey(header.key)) return Refuse("malformed book key");
    if (!IsSafeFileName(header.file_name)) return Refuse("file name refused");
    if (!IsBookSubFolder(header.sub_folder)) return Refuse("folder refused");
    const SessionInfo session = accounts_.SessionByKey(context.session_key);
    if (session.account == 0) return Refuse("not logged in");
    const int64_t owner = books_.Owner(header.key);
    if (owner == 0) return Refuse("unknown book, its metadata comes first");
    if (session.account != owner) return Refuse("the book belongs to another account");
    UploadData upload{body.substr(header.data_offset), !context.file_encoding.empty(), context.file_size};
    if (upload.packed) {
        // Packed files come whole, with their unpacked size announced, and unpack to
        // exactly that size: a stream that would grow further is refused, not stored.
        if (context.file_encoding != kPackedFileEncoding) return Refuse("file encoding refused");
        if (header.chunked) return Refuse("a packed file comes whole");
        if (context.file_size < 0 || context.file_size > kMaxUnpackedFileBytes)
            return Refuse("a packed file needs its unpacked size, at most 64 MiB");
    }
    auto lock = books_.LockBook(header.key);
    if (!lock) return BookBusy();
    bool staged = false;
    if (std::string refused = UpdateTarget(header.key, context.update_id, staged); !refused.empty()) return refused;
    if (!books_.WriteUpload(header, upload, staged, why)) return Refuse(why);
    return "OK";
}

std::string ClientRequests::UpdateTarget(const std::string& key, const std::string& named_id, bool& staged) {
    OpenUpdate open;
    const bool is_open = updates_.FindOpen(key, open);
    staged = !named_id.empty();
    if (staged && (!is_open || open.id != named_id))
        return Refuse("the update is no longer open (committed, replaced or expired)");
    if (!staged && is_open) {
        DIAG(kModule, 0, "INF:refused: %s is being updated", key.c_str());
        return std::string(kBusyRefusal) + "the book is being updated from another session; try again later";
    }
    if (staged) updates_.Touch(key, open);
    return std::string();
}

std::string ClientRequests::CheckUpdater(std::string_view payload, const ClientContext& context, std::string& key,
                                         int64_t& account, int64_t& owner) {
    constexpr size_t kKeySize = 32;
    key.assign(payload.substr(0, kKeySize));
    if (payload.size() < kKeySize || !IsJobKey(key)) return Refuse("malformed book key");
    account = accounts_.SessionByKey(context.session_key).account;
    if (account == 0) return Refuse("not logged in");
    owner = books_.Owner(key);
    if (owner != 0 && owner != account) return Refuse("the book belongs to another account");
    return std::string();
}

std::string ClientRequests::Manifest(std::string_view payload, const ClientContext& context) {
    std::string key;
    int64_t account = 0, owner = 0;
    if (std::string refused = CheckUpdater(payload, context, key, account, owner); !refused.empty()) return refused;
    if (payload.size() != key.size()) return Refuse("malformed manifest request");
    auto lock = books_.LockBook(key);
    if (!lock) return BookBusy();
    return LengthPrefixed(owner == 0 ? std::string() : updates_.LiveManifest(key));
}

std::string ClientRequests::BeginUpdate(std::string_view payload, const ClientContext& context, std::string& id) {
    std::string key;
    int64_t account = 0, owner = 0;
    if (std::string refused = CheckUpdater(payload, context, key, account, owner); !refused.empty()) return refused;
    if (payload.size() != key.size()) return Refuse("malformed update request");
    auto lock = books_.LockBook(key);
    if (!lock) return BookBusy();
    // A book no account owns yet may be staged too (its first publication); another
    // account may have taken the key meanwhile.
    if (owner == 0 && books_.Owner(key) != 0 && books_.Owner(key) != account)
        return Refuse("the book belongs to another account");
    std::string why;
    switch (updates_.Begin(key, account, accounts_.SessionByKey(context.session_key).token, context.update_id, id, why)) {
        case BeginResult::Begun: return "OK";
        case BeginResult::Busy:
            DIAG(kModule, 0, "INF:refused: a second update of %s", key.c_str());
            return std::string(kBusyRefusal) + "another update of the book is open; try again later";
        case BeginResult::TooMany:
            return Refuse("too many open updates for this account (at most " + std::to_string(kMaxOpenUpdates) +
                          "); commit them or wait until they expire");
        case BeginResult::Failed: break;
    }
    return Refuse(why);
}

std::string ClientRequests::CommitUpdate(std::string_view payload, const ClientContext& context) {
    std::string key;
    int64_t account = 0, owner = 0;
    if (std::string refused = CheckUpdater(payload, context, key, account, owner); !refused.empty()) return refused;
    if (owner == 0) return Refuse("no update of this book was begun");
    auto lock = books_.LockBook(key);
    if (!lock) return BookBusy();
    bool staged = false;
    if (std::string refused = UpdateTarget(key, context.update_id, staged); !refused.empty()) return refused;
    if (!staged) return Refuse("no update of this book was begun");
    std::string why;
    if (!updates_.Commit(key, payload.substr(key.size()), why)) return Refuse(why);
    return "OK";
}

}  // namespace service
