#include "publish/HttpSession.h"

#include "config/DiagLog.h"

#include <algorithm>
#include <cstring>
#include <strings.h>

namespace {

// A reply larger than this is not a reply of the service; the exchange is abandoned.
constexpr size_t kMaxReply = 64u * 1024 * 1024;
constexpr size_t kMaxReplyHeaders = 64u * 1024;
constexpr const char* kSessionHeader = "X-Vellumark-Session";

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
    timeout_ms_ = timeout_ms;
    curl_easy_setopt(h, CURLOPT_URL, url.c_str());
    curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_USERAGENT, user_agent.c_str());
    curl_easy_setopt(h, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
    UseConfiguredAuthorities(h);
    curl_easy_setopt(h, CURLOPT_POST, 1L);
    curl_easy_setopt(h, CURLOPT_READFUNCTION, ReadBody);
    curl_easy_setopt(h, CURLOPT_READDATA, &source_);
    curl_easy_setopt(h, CURLOPT_SEEKFUNCTION, SeekBody);
    curl_easy_setopt(h, CURLOPT_SEEKDATA, &source_);
    reply_.limit = kMaxReply;
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, CollectBoundedText);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &reply_);
    reply_headers_.limit = kMaxReplyHeaders;
    curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, CollectBoundedText);
    curl_easy_setopt(h, CURLOPT_HEADERDATA, &reply_headers_);
    return true;
}

bool HttpSession::Post(const PostBody& body) {
    reply_.text.clear();
    reply_headers_.text.clear();
    status_ = 0;
    source_ = Source{&body, 0, false};
    if (!handle_) return Fail(CURLE_FAILED_INIT);
    if (body.file && fseeko(body.file, static_cast<off_t>(body.file_offset), SEEK_SET) != 0)
        return Fail(CURLE_READ_ERROR);
    // The body goes as it is: no content type, no waiting for "100 Continue", no
    // header beyond those the protocol needs.
    std::vector<std::string> lines = {"Expect:", "Content-Type:", "Accept:"};
    if (!session_key_.empty()) lines.push_back(std::string(kSessionHeader) + ": " + session_key_);
    lines.insert(lines.end(), body.headers.begin(), body.headers.end());
    curl_slist* list = nullptr;
    for (const std::string& line : lines) {
        curl_slist* longer = curl_slist_append(list, line.c_str());
        if (!longer) {
            curl_slist_free_all(list);
            return Fail(CURLE_OUT_OF_MEMORY);
        }
        list = longer;
    }
    const CurlSlist headers(list);
    CURL* h = handle_.get();
    curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers.get());
    curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.Size()));
    ApplyLimits(h, LimitsFor(timeout_ms_, body.Size()));
    const CURLcode code = curl_easy_perform(h);
    curl_easy_setopt(h, CURLOPT_HTTPHEADER, nullptr);
    source_.body = nullptr;
    if (code != CURLE_OK) return Fail(code);
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status_);
    // A service that sheds load answers 429 or 5xx: nothing was done, and the request is
    // sent again after the usual wait, as after a dropped connection.
    if (status_ >= 500 || status_ == 429) {
        last_error_ = CURLE_RECV_ERROR;
        DiagLog::Instance().SetLastServerResponse("HTTP status " + std::to_string(status_));
        return false;
    }
    last_error_ = 0;
    return true;
}

bool HttpSession::Fail(int32_t code) {
    last_error_ = code;
    DiagLog::Instance().SetLastServerResponse(curl_easy_strerror(static_cast<CURLcode>(code)));
    return false;
}

std::string HttpSession::ReplyHeader(const std::string& name) const {
    std::string value;
    const std::string& text = reply_headers_.text;
    for (size_t start = 0; start < text.size();) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        const std::string line = text.substr(start, end - start);
        start = end + 1;
        const size_t colon = line.find(':');
        if (colon == std::string::npos || colon != name.size() ||
            strncasecmp(line.c_str(), name.c_str(), name.size()) != 0)
            continue;
        // The last one wins: headers of an interim reply come first.
        const size_t first = line.find_first_not_of(" \t", colon + 1);
        const size_t last = line.find_last_not_of(" \t\r");
        value = first == std::string::npos || last < first ? std::string() : line.substr(first, last - first + 1);
    }
    return value;
}
