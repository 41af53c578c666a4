// The web-service half of the publishing session: login, version check, book metadata
// and file uploads, each message preceded by an empty probe request.
#include "publish/Uploader.h"

#include "config/DiagLog.h"
#include "config/GzipBytes.h"
#include "publish/HttpReplies.h"
#include "publish/RetryPolicy.h"
#include "publish/ServiceAddress.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <memory>

namespace {
constexpr const char* kModule = "Upload";
constexpr const char* kUserAgent = "corvane rastrixGUI";
constexpr size_t kMaxSubdir = 31;
constexpr size_t kLoggedReply = 63;

struct FileCloser {
    void operator()(FILE* file) const { std::fclose(file); }
};
using FilePtr = std::unique_ptr<FILE, FileCloser>;

std::string FinalComponent(const std::string& path) {
    const size_t cut = path.find_last_of("/\\");
    return cut == std::string::npos ? path : path.substr(cut + 1);
}

// The login session's secret key as the service sends it: 64 lower-case hex digits.
bool IsSessionKey(const std::string& text) {
    if (text.size() != 64) return false;
    for (char c : text)
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
    return true;
}

// The header every upload request carries: the size of the whole file, so that the
// service keeps a chunked file hidden until all of it arrived.
std::string FileSizeHeader(int64_t size) { return "X-Vellumark-File-Size: " + std::to_string(size); }

// Names the staged update a request belongs to; the service answers it to "stag".
constexpr const char* kUpdateHeader = "X-Vellumark-Update";
// The start of a refusal that lasts only while another update of the book is open.
constexpr const char* kBusyReply = "ERR:busy:";
// The start of the refusal of an update beyond the account's open updates.
constexpr const char* kUpdateLimitReply = "ERR:too many open updates";

// Packing in transit: the file data of an upload is a gzip stream the service unpacks.
constexpr const char* kFileEncodingHeader = "X-Vellumark-File-Encoding";
constexpr const char* kPackedEncoding = "gzip";
// Only text shrinks enough to pay for packing; images are compressed already.
bool IsPackableText(const std::string& name) {
    for (const char* extension : {".js", ".html", ".htm", ".css", ".xml", ".json", ".txt", ".svg"}) {
        const size_t length = std::char_traits<char>::length(extension);
        if (name.size() > length && name.compare(name.size() - length, length, extension) == 0) return true;
    }
    return false;
}
// Files read whole into memory for packing are at most this large; the service unpacks
// no more either.
constexpr int64_t kMaxPackedSourceBytes = 64 * 1024 * 1024;
// Below this, packing saves less than a request's own header fields.
constexpr int64_t kMinPackedSourceBytes = 2048;

// The largest chunk a service may announce, in KiB: with its header fields such a
// request stays within the 1 MiB body our own service takes.
constexpr int32_t kMaxAnnouncedChunkKiB = 1000;
// The chunk size configured by default (and the largest any service takes).
constexpr int32_t kUsualChunkKiB = 48;

// The chunk size in KiB for a login whose reply announced `announced` (empty when the
// service did not say): a service that takes larger chunks gets them, unless the user
// chose chunks smaller than usual (a slow or metered line); never more than the service
// said it takes.
int32_t ChunkKiBAfterLogin(int32_t configured, const std::string& announced) {
    int32_t most = 0;
    const auto [end, error] = std::from_chars(announced.data(), announced.data() + announced.size(), most);
    if (announced.empty() || error != std::errc() || end != announced.data() + announced.size() || most < 1 ||
        most > kMaxAnnouncedChunkKiB)
        return configured;
    return configured < kUsualChunkKiB ? std::min(configured, most) : most;
}

// Whether a step of a staged update succeeded: only a plain "OK" counts (an older
// service answers an error, a refusal says why).
bool UpdateStepDone(const char* code, const std::string& job_key, const std::string& reply) {
    if (reply == "OK") return true;
    DIAG(kModule, 0, "ERR:%s of %s refused: %s", code, job_key.c_str(), http_reply::Printable(reply, kLoggedReply).c_str());
    return false;
}

// The wait before each chunk in ms: 0 or less reads as 1000, more than 5000 as 5000.
int32_t ChunkWaitMs(int32_t stored) {
    if (stored <= 0) return 1000;
    return std::min(stored, 5000);
}
}  // namespace

int32_t Uploader::HttpTryTimes() const { return retry::ClampTryTimes(settings_.http_upld_try_times); }

void Uploader::SetHttpTarget(const std::string& host, uint16_t port, const std::string& path) {
    http_on_ = 1;
    http_host_ = host;
    http_port_ = port;
    http_path_ = path;
}

bool Uploader::ConnectHttp() {
    EnsureCurlGlobalInit();
    if (http_on_ == 0) return true;
    ServiceAddress address;
    if (!ParseServiceAddress(http_host_, http_port_, address) ||
        !http_.Open(ServiceUrl(address, http_path_), kUserAgent, settings_.net_timeout_ms)) {
        DIAG(kModule, 0, "ERR:InternetConnect error");
        CloseAll();
        return false;
    }
    return true;
}

bool Uploader::Authenticate() {
    if (!http_.Post(PostBody{})) return false;
    const long status = http_.Status();
    if (status <= 0) {
        DIAG(kModule, 0, "ERR:HttpQueryInfo failed");
        return false;
    }
    if (status != 401 && status != 407) return true;
    // There is no way to ask the user for other credentials here: the service refused.
    DiagLog::Instance().SetLastServerResponse("HTTP status " + std::to_string(status));
    DIAG(kModule, 12003, "InternetErrorDlg failed");
    return false;
}

bool Uploader::PostByHttp(const char* code, const std::string& body, const ReplyHandler* handler) {
    if (!Authenticate()) {
        DIAG(kModule, http_.DiagCode(), "ERR:Autheticate failed");
        return false;
    }
    PostBody message;
    message.head = std::string(code, 4) + body;
    // The book's requests of an open update name it ("stag" to continue it).
    const std::string_view request(code, 4);
    if (!update_id_.empty() && (request == "meta" || request == "stag" || request == "comm"))
        message.headers.push_back(std::string(kUpdateHeader) + ": " + update_id_);
    if (!http_.Post(message)) {
        DIAG(kModule, http_.DiagCode(), "ERR:HttpSendRequestEx failed");
        return false;
    }
    if (!handler) return true;
    std::string text;
    switch (http_reply::ParseLengthPrefixed(http_.Reply(), text)) {
        case http_reply::Prefixed::NotANumber:
            DIAG(kModule, 0, "ERR:latest server installed?");
            return false;
        case http_reply::Prefixed::Empty:
            DIAG(kModule, 0, "no message");
            return false;
        case http_reply::Prefixed::Short:
            // Part of a message could pass for a whole one; it is not handed on.
            DIAG(kModule, 0, "ERR:reply shorter than its length field");
            return false;
        case http_reply::Prefixed::Ok:
            break;
    }
    (*handler)(text);
    return true;
}

bool Uploader::TryAgainAfter(int32_t attempt, const char* code) const {
    // No answer: no connection, a service process that died with the request, a 5xx or 429.
    const long status = http_.Status();
    const bool unanswered = status == 0 || status == 429 || status >= 500;
    if (!unanswered || attempt + 1 >= HttpTryTimes() || !retry::WaitUnlessStopped(retry::DelayMs(attempt), job_state_))
        return false;
    DIAG(kModule, 0, "INF:%.4s got no answer; sending it again", code);
    return true;
}

bool Uploader::PostRepeatable(const char* code, const std::string& body) {
    for (int32_t attempt = 0;; ++attempt) {
        if (PostByHttp(code, body, nullptr)) return true;
        if (!TryAgainAfter(attempt, code)) return false;
    }
}

int32_t Uploader::LoginHttpRepeatable(const std::string& user, const std::string& password) {
    for (int32_t attempt = 0;; ++attempt) {
        const int32_t row = LoginHttp(user, password);
        if (row > 0 || !TryAgainAfter(attempt, "logi")) return row;
    }
}

bool Uploader::IsOK(int32_t* number) {
    const http_reply::Status status = http_reply::JudgeStatus(http_.Reply());
    if (!status.ok) {
        DIAG(kModule, 0, "ERR:http response %s", http_reply::Printable(status.text, kLoggedReply).c_str());
        return false;
    }
    if (number && status.has_number) *number = status.number;
    return true;
}

int32_t Uploader::GetUserRowID() {
    DIAG(kModule, 0, "INF:will ZeroMemory");
    DIAG(kModule, 0, "INF:will InternetReadFile in GetUserRowID");
    return http_reply::UserRowId(http_.Reply());
}

int32_t Uploader::LoginHttp(const std::string& user, const std::string& password) {
    if (!http_.IsOpen() && !ConnectHttp()) return 0;
    DIAG(kModule, 0, "INF:will HttpOpenRequest");
    std::string body;
    if (!http_body::LoginBody(user, password, body)) {
        DIAG(kModule, 0, "ERR:user name or password longer than %zu bytes", http_body::kLoginFieldSize - 1);
        return 0;
    }
    DIAG(kModule, 0, "INF:will PostByHttp");
    if (!PostByHttp("logi", body, nullptr)) {
        DIAG(kModule, 0, "ERR:HttpOpenRequest failed");
        return 0;
    }
    user_row_id_ = GetUserRowID();
    // Later messages prove the login with this key; a reply without one (a service that
    // does not issue keys, or a refused login) leaves none from an earlier login behind.
    const std::string key = http_.ReplyHeader("X-Vellumark-Session");
    http_.SetSessionKey(user_row_id_ > 0 && IsSessionKey(key) ? key : std::string());
    chunk_size_ = ChunkKiBAfterLogin(settings_.http_chunk_size, http_.ReplyHeader("X-Vellumark-Chunk-KiB")) * 1024;
    service_unpacks_ = http_.ReplyHeader(kFileEncodingHeader) == kPackedEncoding;
    if (user_row_id_ <= 0) {
        DIAG(kModule, 0, "ERR:GetUserRowID failed");
        return 0;
    }
    return user_row_id_;
}

void Uploader::ReportLoginFailure(const std::string& user) const {
    DIAG(kModule, 0, "ERR:%s login failed,u:%s p:********", http_reply::Printable(http_host_, 128).c_str(),
         http_reply::Printable(user, 256).c_str());
}

bool Uploader::ServiceAnswered() const {
    const std::string& reply = http_.Reply();
    const size_t digits = !reply.empty() && reply[0] == '-' ? 1 : 0;
    return http_.Status() == 200 && reply.size() > digits && std::isdigit(static_cast<unsigned char>(reply[digits]));
}

bool Uploader::CheckNewVersion() {
    if (!http_.IsOpen() && !ConnectHttp()) return false;
    DIAG(kModule, 0, "INF:will HttpOpenRequest");
    if (!PostByHttp("upgr", http_body::VersionBody(), nullptr)) {
        DIAG(kModule, 0, "ERR:HttpOpenRequest failed");
        return false;
    }
    switch (http_reply::NewerBuild(http_.Reply())) {
        case http_reply::Version::Newer:
            return true;
        case http_reply::Version::NotANumber:
            DIAG(kModule, 0, "ERR:server installed?");
            return false;
        case http_reply::Version::NoNewer:
            return false;
    }
    return false;
}

void Uploader::SetJobValues(const std::array<int32_t, 6>& values) { job_values_ = values; }

void Uploader::SetCoverSize(int32_t width, int32_t height) {
    cover_width_ = width;
    cover_height_ = height;
}

bool Uploader::handle_pdf_metadata_http(const std::string& pdf_path, const std::string& job_key, int32_t page_count,
                                        int32_t page_width, int32_t page_height, const std::string& title,
                                        const std::string& description, const std::string& tags, int32_t reserved,
                                        int64_t pdf_size) {
    if (http_on_ == 0) return true;
    if (!http_.IsOpen()) {
        DIAG(kModule, 0, "HttpOpenRequest failed");
        return false;
    }
    http_body::BookMetadata meta;
    meta.job_key = job_key;
    meta.page_count = page_count;
    meta.page_width = page_width;
    meta.page_height = page_height;
    meta.user_row_id = user_row_id_;
    meta.reserved = reserved;
    meta.job_values = job_values_;
    meta.title = title;
    meta.description = description;
    meta.tags = tags;
    meta.pdf_name = FinalComponent(pdf_path);
    meta.pdf_size = pdf_size;
    meta.cover_width = cover_width_;
    meta.cover_height = cover_height_;
    if (!PostRepeatable("meta", http_body::MetadataText(meta))) return false;
    int32_t number = 0;
    if (!IsOK(&number)) return false;
    // 5: the service changed the book's title.
    if (number == 5) status_value_ = 5;
    return true;
}

bool Uploader::FetchManifestHttp(const std::string& job_key, std::string& text) {
    text.clear();
    if (http_on_ == 0 || job_key.size() != 32 || !http_.IsOpen()) return false;
    if (!PostRepeatable("mani", job_key)) return false;
    // A length-prefixed text; "0" announces a book without a manifest. Anything else
    // (an "ERR:" of an older service or a refusal) is no manifest to rely on.
    switch (http_reply::ParseLengthPrefixed(http_.Reply(), text)) {
        case http_reply::Prefixed::Ok:
        case http_reply::Prefixed::Empty:
            return true;
        case http_reply::Prefixed::NotANumber:
        case http_reply::Prefixed::Short:
            break;
    }
    DIAG(kModule, 0, "ERR:no manifest of %s: %s", job_key.c_str(),
         http_reply::Printable(http_.Reply(), kLoggedReply).c_str());
    text.clear();
    return false;
}

bool Uploader::BeginUpdateHttp(const std::string& job_key) {
    book_busy_ = false;
    update_limit_ = false;
    if (http_on_ == 0 || job_key.size() != 32 || !http_.IsOpen()) return false;
    // Another session's update of the book ends within minutes: ask again after each
    // retry delay, twice as often as a file is tried (8 times over about a minute with
    // the usual 4), before giving up.
    const int32_t tries = 2 * HttpTryTimes();
    for (int32_t attempt = 0; attempt < tries; ++attempt) {
        if (!PostRepeatable("stag", job_key)) return false;
        const std::string& reply = http_.Reply();
        if (reply == "OK") {
            // A service of before update ids answers none: its stage is the book's only one.
            update_id_ = http_.ReplyHeader(kUpdateHeader);
            book_busy_ = false;
            return true;
        }
        book_busy_ = reply.rfind(kBusyReply, 0) == 0;
        if (!book_busy_) {
            update_limit_ = reply.rfind(kUpdateLimitReply, 0) == 0;
            update_id_.clear();
            return UpdateStepDone("stag", job_key, reply);
        }
        DIAG(kModule, 0, "INF:%s is being updated from another session; asking again", job_key.c_str());
        if (attempt + 1 < tries && !retry::WaitUnlessStopped(retry::DelayMs(attempt), job_state_)) {
            book_busy_ = false;  // stopped, not refused
            return false;
        }
    }
    DIAG(kModule, 0, "ERR:%s is still being updated from another session; publish it again later", job_key.c_str());
    return false;
}

bool Uploader::CommitUpdateHttp(const std::string& job_key, const std::string& manifest_text) {
    if (http_on_ == 0 || job_key.size() != 32 || !http_.IsOpen()) return false;
    bool repeated = false;
    for (int32_t attempt = 0; !PostByHttp("comm", job_key + manifest_text, nullptr); ++attempt) {
        if (!TryAgainAfter(attempt, "comm")) return false;
        repeated = true;
    }
    // A commit whose answer was lost may have been done: the repeat then finds no open
    // update, and the live book's manifest is the one committed.
    const std::string reply = http_.Reply();
    std::string live;
    const bool done_before = repeated && reply != "OK" && !manifest_text.empty() &&
                             FetchManifestHttp(job_key, live) && live == manifest_text;
    if (done_before) DIAG(kModule, 0, "INF:the commit of %s was done before its answer was lost", job_key.c_str());
    else if (!UpdateStepDone("comm", job_key, reply)) return false;
    update_id_.clear();
    return true;
}

std::vector<std::string> Uploader::UploadHeaders(int64_t size) const {
    std::vector<std::string> headers = {FileSizeHeader(size)};
    if (!update_id_.empty()) headers.push_back(std::string(kUpdateHeader) + ": " + update_id_);
    return headers;
}

bool Uploader::SendByHttpOnce(const PostBody& body) {
    if (!http_.Post(body)) {
        if (http_.FileEndedEarly()) DIAG(kModule, 0, "INF:ReadFile failed?");
        else DIAG(kModule, http_.DiagCode(), "ERR:HttpSendRequestEx failed");
        return false;
    }
    // A refused request did not store its bytes, whatever a later reply says.
    if (http_.Status() < 200 || http_.Status() > 299) {
        DIAG(kModule, 0, "ERR:http status %ld", http_.Status());
        return false;
    }
    return true;
}

bool Uploader::UploadWhole(const PostBody& body, const std::string& name) {
    const int32_t tries = HttpTryTimes();
    for (int32_t attempt = 0; attempt < tries; ++attempt) {
        if (SendByHttpOnce(body)) return true;
        DIAG(kModule, 0, "ERR:SendByHttpOnce failed,try %d", attempt + 1);
        if (attempt + 1 < tries && !retry::WaitUnlessStopped(retry::DelayMs(attempt), job_state_)) return false;
    }
    DIAG(kModule, 0, "ERR:failed to upload %s by http", name.c_str());
    return false;
}

bool Uploader::UploadPacked(FILE* file, int64_t size, const std::string& job_key, const std::string& name,
                            const std::string& subdir, bool& tried) {
    tried = false;
    if (!service_unpacks_ || !IsPackableText(name) || size < kMinPackedSourceBytes || size > kMaxPackedSourceBytes)
        return false;
    std::string text(static_cast<size_t>(size), '\0');
    if (fseeko(file, 0, SEEK_SET) != 0 || std::fread(text.data(), 1, text.size(), file) != text.size()) return false;
    std::string packed = GzipBytes(text);
    // A packed file goes in one request: one that stays larger than a chunk goes as it is.
    if (packed.empty() || static_cast<int64_t>(packed.size()) >= size ||
        static_cast<int64_t>(packed.size()) > chunk_size_)
        return false;
    tried = true;
    PostBody body{http_body::UploadHeader(job_key, name, subdir, -1, 0) + packed, nullptr, 0, 0,
                        UploadHeaders(size)};
    body.headers.push_back(std::string(kFileEncodingHeader) + ": " + kPackedEncoding);
    return UploadWhole(body, name);
}

bool Uploader::UploadChunks(FILE* file, int64_t size, const std::string& job_key, const std::string& name,
                            const std::string& subdir) {
    const http_body::ChunkPlan plan = http_body::PlanChunks(size, chunk_size_);
    const int32_t tries = HttpTryTimes();
    const int32_t wait_ms = ChunkWaitMs(settings_.http_wait_after_upld_chunk);
    for (int64_t k = 0; k < plan.count; ++k) {
        // The wait throttles large uploads; a stop request ends the file between chunks.
        if (!retry::WaitUnlessStopped(wait_ms, job_state_)) {
            DIAG(kModule, 0, "INF:upload of %s stopped before chunk %lld", name.c_str(), static_cast<long long>(k));
            return false;
        }
        const auto index = static_cast<int32_t>(k);
        const PostBody body{http_body::UploadHeader(job_key, name, subdir, index, chunk_size_ / 1024), file,
                            plan.Offset(k), plan.Bytes(k), UploadHeaders(size)};
        bool sent = false;
        for (int32_t attempt = 0; attempt < tries && !sent; ++attempt) {
            sent = SendByHttpOnce(body);
            if (sent) break;
            DIAG(kModule, 0, "ERR:SendByHttpOnce failed");
            if (attempt + 1 < tries && !retry::WaitUnlessStopped(retry::DelayMs(attempt), job_state_)) return false;
        }
        if (!sent) {
            DIAG(kModule, 0, "ERR:failed to upload chunk %d of %s by http", index, name.c_str());
            return false;
        }
    }
    return true;
}

bool Uploader::upload_one_file_http(const std::string& local_path, const std::string& job_key,
                                    const std::string& subdir) {
    // A stop request is honoured before a file is begun.
    if (retry::StopRequested(job_state_)) return false;
    const std::string folder = subdir.substr(0, kMaxSubdir);
    if (!http_.IsOpen() && !ConnectHttp()) {
        DIAG(kModule, 0, "ERR:no http connection");
        return false;
    }
    // The probe changes nothing: one that got no answer is sent again.
    for (int32_t attempt = 0; !Authenticate(); ++attempt) {
        DIAG(kModule, http_.DiagCode(), "Authenticate failed");
        if (!TryAgainAfter(attempt, "upld")) return false;
    }
    FilePtr file(std::fopen(local_path.c_str(), "rb"));
    if (!file) {
        DIAG(kModule, errno, "ERR:CreateFile failed on %s", local_path.c_str());
        DIAG(kModule, 0, "ERR:UploadFileByHttp failed");
        return false;
    }
    const int64_t size = fseeko(file.get(), 0, SEEK_END) == 0 ? ftello(file.get()) : -1;
    if (size < 0) {
        DIAG(kModule, errno, "ERR:CreateFile failed on %s", local_path.c_str());
        DIAG(kModule, 0, "ERR:UploadFileByHttp failed");
        return false;
    }
    const std::string name = FinalComponent(local_path);
    bool packed = false;
    bool sent = UploadPacked(file.get(), size, job_key, name, folder, packed);
    if (!packed) {
        sent = size > chunk_size_ ? UploadChunks(file.get(), size, job_key, name, folder)
                                  : UploadWhole({http_body::UploadHeader(job_key, name, folder, -1, 0),
                                                 file.get(), 0, size, UploadHeaders(size)},
                                                name);
    }
    if (!sent) {
        DIAG(kModule, 0, "ERR:UploadFileByHttp failed");
        return false;
    }
    // Only the reply to the last request tells whether the service kept the file.
    return IsOK(nullptr);
}
