// Reads the head of an HTTP/1.x request (request line and header fields) and decides
// how its body is framed. Pure functions: no sockets, so every rule is tested alone.
//
// Only bodies announced by Content-Length are taken. Chunked transfer coding and
// compressed bodies are refused: no client of the service needs them, and either would
// let a small request turn into a large body after the limit was checked.
#pragma once

#include "service/http/HttpMessage.h"

#include <cstddef>
#include <string>
#include <string_view>

namespace http {

inline constexpr size_t kMaxHeadBytes = 16 * 1024;
inline constexpr size_t kMaxHeaderFields = 100;

struct HeadOutcome {
    int error_status = 0;  // 0: the head is good; else the status to answer with
    std::string error;     // why, for the answer's body and the log
    size_t content_length = 0;
    bool keep_alive = true;
    bool expect_continue = false;
};

// The length of the head in `data` including its blank line, 0 while it is not complete.
size_t HeadLength(std::string_view data);

// Parses `head` (as measured by HeadLength) into `request` (method, path, query,
// headers). `max_body` is the largest body accepted.
HeadOutcome ParseRequestHead(std::string_view head, size_t max_body, HttpRequest& request);

// Decodes %XX escapes (and '+' as a blank when `plus_is_space`); false on a malformed
// escape or an encoded NUL.
bool PercentDecode(std::string_view text, bool plus_is_space, std::string& out);

// "a=1&b=2" into `out` (decoded); pairs that cannot be decoded are left out.
void ParseFormFields(std::string_view text, std::map<std::string, std::string>& out);

}  // namespace http
