// One HTTP request as the server hands it to the service, and the answer the service
// gives back. Header names are kept in lower case; the body is whole in memory (the
// server never takes a body larger than its limit).
#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace http {

struct HttpRequest {
    std::string method;  // "GET", "HEAD", "POST", ...
    std::string path;    // percent-decoded, without the query
    std::map<std::string, std::string> query;    // decoded parameters of the query
    std::map<std::string, std::string> headers;  // lower-case names
    std::string body;
    std::string peer_address;  // the IP address of the connection's other end

    // The value of header `name` (lower case), empty when it was not sent.
    const std::string& Header(const std::string& name) const;
    const std::string& Param(const std::string& name) const;
    bool HasParam(const std::string& name) const { return query.count(name) != 0; }
};

struct HttpResponse {
    int status = 200;
    std::vector<std::pair<std::string, std::string>> headers;  // besides Content-Length
    std::string body;
    std::filesystem::path file;  // when set, its content is the body (streamed)
    bool close = false;          // end the connection after this answer

    void SetHeader(const std::string& name, const std::string& value);
    void SetContent(std::string content, const std::string& content_type);
};

// The reason phrase of a status code ("OK", "Not Found", ...).
const char* StatusText(int status);

}  // namespace http
