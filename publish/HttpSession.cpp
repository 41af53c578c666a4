#include "publish/HttpSession.h"

#include "config/DiagLog.h"

#include <algorithm>
#include <cstring>

namespace {

// A reply larger than this is not a reply of the service; the exchange is abandoned.
constexpr size_t kMaxReply = 64u * 1024 * 1024;

size_t ReadBody(char* buffer, size_t size, size_t count, void* user) {
    auto* source = static_cast<HttpSession::Source*>(user);
    const PostBody& body = *source->body;
    const size_t room = size * count;
    const auto head_size = static_cast<int64_t>(body.head.size());
    size_t written = 0;
    if (source->position < head_size) {
        written = std::min(room, static_cast<size_t>(head_size - source->position));
        std::memcpy(buffer, body.head.data() + source->position, written);
        source->position += static_cast<int64_t>(written);
    }
    const int64_t file_left = body.Size() - source->position;
    if (written < room && file_left > 0) {
        const size_t want = std::min(room - written, static_cast<size_t>(file_left));
        const size_t got = std::fread(buffer + written, 1, want, body.file);
        if (got == 0) {
            // The file is shorter than announced: the request must not look complete.
            source->ended_early = true;
            return CURL_READFUNC_ABORT;
        }
        written += got;
        source->position += static_cast<int64_t>(got);
    }
    return written;
}

// Lets the library send the body again from its start when a kept connection turned
// out to be closed by the peer.
int SeekBody(void* user, curl_off_t offset, int origin) {
    auto* source = static_cast<HttpSession::Source*>(user);
    const PostBody& body = *source->body;
    if (origin != SEEK_SET || offset < 0 || offset > body.Size()) return CURL_SEEKFUNC_CANTSEEK;
    const auto head_size = static_cast<int64_t>(body.head.size());
    if (body.file) {
        const int64_t in_file = std::max<int64_t>(0, offset - head_size);
        if (fseeko(body.file, static_cast<off_t>(body.file_offset + in_file), SEEK_SET) != 0)
            return CURL_SEEKFUNC_FAIL;
    }
    source->position = offset;
    return CURL_SEEKFUNC_OK;
}

}  // namespace

bool HttpSession::Open(const std::string& url, const std::string& user_agent, int32_t timeout_ms) {
    EnsureCurlGlobalInit();
    handle_.reset(curl_easy_init());
    if (!handle_) return false;
    CURL* h = handle_.get();
    const long timeout = timeout_ms;
    curl_easy_setopt(h, CURLOPT_URL, url.c_str());
    curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_USERAGENT, user_agent.c_str());
    curl_easy_setopt(h, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, timeout);
    // An exchange that moves no byte for the whole wait counts as timed out.
    curl_easy_setopt(h, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(h, CURLOPT_LOW_SPEED_TIME, (timeout + 999) / 1000);
    // The body goes as it is: no content type, no waiting for "100 Continue", no
    // header of our own beyond those the protocol needs.
    curl_slist* list = curl_slist_append(nullptr, "Expect:");
    list = curl_slist_append(list, "Content-Type:");
    list = curl_slist_append(list, "Accept:");
    headers_.reset(list);
    curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers_.get());
    curl_easy_setopt(h, CURLOPT_POST, 1L);
    curl_easy_setopt(h, CURLOPT_READFUNCTION, ReadBody);
    curl_easy_setopt(h, CURLOPT_READDATA, &source_);
    curl_easy_setopt(h, CURLOPT_SEEKFUNCTION, SeekBody);
    curl_easy_setopt(h, CURLOPT_SEEKDATA, &source_);
    reply_.limit = kMaxReply;
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, CollectBoundedText);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &reply_);
    return headers_ != nullptr;
}

bool HttpSession::Post(const PostBody& body) {
    reply_.text.clear();
    status_ = 0;
    source_ = Source{&body, 0, false};
    if (!handle_) {
        last_error_ = CURLE_FAILED_INIT;
        DiagLog::Instance().SetLastServerResponse(curl_easy_strerror(CURLE_FAILED_INIT));
        return false;
    }
    if (body.file && fseeko(body.file, static_cast<off_t>(body.file_offset), SEEK_SET) != 0) {
        last_error_ = CURLE_READ_ERROR;
        DiagLog::Instance().SetLastServerResponse(curl_easy_strerror(CURLE_READ_ERROR));
        return false;
    }
    CURL* h = handle_.get();
    curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.Size()));
    const CURLcode code = curl_easy_perform(h);
    source_.body = nullptr;
    last_error_ = static_cast<int32_t>(code);
    if (code != CURLE_OK) {
        DiagLog::Instance().SetLastServerResponse(curl_easy_strerror(code));
        return false;
    }
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status_);
    return true;
}
