// One connection to the publishing web service kept open across requests (one libcurl
// easy handle reused). Every request is a POST to the same address whose body is
// announced by its length and streamed: a head held in memory, then a range of a file.
#pragma once

#include "publish/CurlEasy.h"

#include <cstdint>
#include <cstdio>
#include <string>

// The bytes of one POST body: `head`, then `file_bytes` bytes of `file` from
// `file_offset` on (no file part when `file` is null).
struct PostBody {
    std::string head;
    FILE* file = nullptr;
    int64_t file_offset = 0;
    int64_t file_bytes = 0;
    int64_t Size() const { return static_cast<int64_t>(head.size()) + (file ? file_bytes : 0); }
};

class HttpSession {
public:
    HttpSession() = default;
    HttpSession(const HttpSession&) = delete;
    HttpSession& operator=(const HttpSession&) = delete;

    // Prepares requests to `url`; nothing is sent yet. False when the library cannot
    // make a handle.
    bool Open(const std::string& url, const std::string& user_agent, int32_t timeout_ms);
    void Close() { handle_.reset(); }
    bool IsOpen() const { return handle_ != nullptr; }

    // Sends one POST and keeps the reply. False when the exchange broke off (no
    // connection, a reset, a time-out, a file that ended early); the HTTP status of a
    // completed exchange is in Status().
    bool Post(const PostBody& body);
    long Status() const { return status_; }
    const std::string& Reply() const { return reply_.text; }

    // The libcurl code of the last failed exchange (0 after success).
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
    CurlEasy handle_;
    CurlSlist headers_;
    Source source_;
    BoundedText reply_;
    long status_ = 0;
    int32_t last_error_ = 0;
};
