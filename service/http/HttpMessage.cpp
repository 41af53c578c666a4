#include "service/http/HttpMessage.h"

namespace http {
namespace {
const std::string kEmpty;
}  // namespace

const std::string& HttpRequest::Header(const std::string& name) const {
    const auto found = headers.find(name);
    return found == headers.end() ? kEmpty : found->second;
}

const std::string& HttpRequest::Param(const std::string& name) const {
    const auto found = query.find(name);
    return found == query.end() ? kEmpty : found->second;
}

void HttpResponse::SetHeader(const std::string& name, const std::string& value) {
    for (auto& [existing, old_value] : headers) {
        if (existing == name) {
            old_value = value;
            return;
        }
    }
    headers.emplace_back(name, value);
}

void HttpResponse::SetContent(std::string content, const std::string& content_type) {
    body = std::move(content);
    SetHeader("Content-Type", content_type);
}

const char* StatusText(int status) {
    switch (status) {
        case 100: return "Continue";
        case 200: return "OK";
        case 301: return "Moved Permanently";
        case 302: return "Found";
        case 400: return "Bad Request";
        case 404: return "Not Found";
        case 405: return "Method Not Allowed";
        case 408: return "Request Timeout";
        case 409: return "Conflict";
        case 411: return "Length Required";
        case 413: return "Content Too Large";
        case 414: return "URI Too Long";
        case 415: return "Unsupported Media Type";
        case 429: return "Too Many Requests";
        case 431: return "Request Header Fields Too Large";
        case 500: return "Internal Server Error";
        case 501: return "Not Implemented";
        case 503: return "Service Unavailable";
        case 505: return "HTTP Version Not Supported";
        default: return "Unknown";
    }
}

}  // namespace http
