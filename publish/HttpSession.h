// One connection to the publishing web service kept open across requests (one libcurl
// easy handle reused). Every request is a POST to the same address whose body is
// announced by its length and streamed: a head held in memory, then a range of a file.
#pragma once

#include "publish/CurlEasy.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// The bytes of one POST body: `head`, then `file_bytes` bytes of `file` from
// `file_offset` on (no file part when `file` is null).
struct PostBody {
    std::string head;
    FILE* file = nullptr;
    int64_t file_offset = 0;
    int64_t file_bytes = 0;
    // Request headers of this request only ("Name: value").
    std::vector<std::string> headers;
    int64_t Size() const { return static_cast<int64_t>(head.size()) + (file ? file_bytes : 0); }
};

class HttpSession {
public:
    HttpSession() = default;
    HttpSession(const HttpSession&) = delete;
    HttpSession& operator=(const HttpSession&) = delete;

    // Prepares requests to `url`; nothing is sent yet. `timeout_ms` is the network
    // time-out every request's deadlines derive from (see ExchangeLimits). False when
    // the library cannot make a handle.
    bool Open(const std::string& url, const std::string& user_agent, int32_t timeout_ms);
    void Close() { handle_.reset(); }
    bool IsOpen() const { return handle_ != nullptr; }

    // The secret key of the logged-in session, sent with every later request as
    // X-Vellumark-Session (empty: none is sent). It outlives Close and Open, so a
    // reconnect stays in the session. Never logged.
    void SetSessionKey(const std::string& key) { session_key_ = key; }
    bool HasSessionKey() const { return !session_key_.empty(); }

    // Sends one POST and keeps the reply. False when the exchange broke off (no
    // connection, a reset, a time-out, a file that ended early) or the service shed it
    // (a 5xx or 429 status, which counts as a dropped connection); the HTTP status of
    // a completed exchange is in Status().
    bool Post(const PostBody& body);
    long Status() const { return status_; }
    const std::string& Reply() const { return reply_.text; }
    // The value of header `name` (letter case ignored) of the last reply; empty when
    // the reply had none.
    std::string ReplyHeader(const std::string& name) const;

    // The libcurl code of the last failed exchange (0 after success; a shed request
    // counts as CURLE_RECV_ERROR).
    int32_t LastError() const { return last_error_; }
    // True when the last body could not be read whole from its file.
    bool FileEndedEarly() const { return source_.ended_early; }
    // The code to log a failure with: the log then gives the library's description.
    int32_t DiagCode() const { return last_error_ == 0 ? 0 : 12003; }

    // Body streaming state, used by the library's read and seek callbacks.
    struct Source {
        const PostBody* body = nullptr;
        int64_t position = 0;
        bool ended_early = false;
    };

private:
    // Records a failure with the library's description as the reason; false.
    bool Fail(int32_t code);

    CurlEasy handle_;
    int32_t timeout_ms_ = 0;
    std::string session_key_;
    Source source_;
    BoundedText reply_;
    BoundedText reply_headers_;
    long status_ = 0;
    int32_t last_error_ = 0;
};
