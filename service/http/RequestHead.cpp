#include "service/http/RequestHead.h"

#include <algorithm>
#include <cctype>
#include <charconv>

namespace http {
namespace {

bool IsTokenChar(char c) {
    const auto byte = static_cast<unsigned char>(c);
    if (std::isalnum(byte)) return true;
    return std::string_view("!#$%&'*+-.^_`|~").find(c) != std::string_view::npos;
}

bool IsToken(std::string_view text) { return !text.empty() && std::all_of(text.begin(), text.end(), IsTokenChar); }

std::string Lower(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

std::string_view Trim(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    return text;
}

// The next line of `text` from `at`, without its CRLF or LF.
std::string_view NextLine(std::string_view text, size_t& at) {
    const size_t end = text.find('\n', at);
    std::string_view line = text.substr(at, end == std::string_view::npos ? std::string_view::npos : end - at);
    at = end == std::string_view::npos ? text.size() : end + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    return line;
}

HeadOutcome Refuse(int status, std::string why) {
    HeadOutcome outcome;
    outcome.error_status = status;
    outcome.error = std::move(why);
    outcome.keep_alive = false;
    return outcome;
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Header values are visible characters, blanks and tabs (bytes above 0x7f are taken as
// they are); anything else could split a line further along.
bool IsFieldValue(std::string_view value) {
    return std::none_of(value.begin(), value.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return (byte < 0x20 && c != '\t') || byte == 0x7f;
    });
}

}  // namespace

size_t HeadLength(std::string_view data) {
    // A head ends at its first empty line; bare LF line ends are accepted as well.
    for (size_t at = data.find('\n'); at != std::string_view::npos; at = data.find('\n', at + 1)) {
        if (at + 1 < data.size() && data[at + 1] == '\n') return at + 2;
        if (at + 2 < data.size() && data[at + 1] == '\r' && data[at + 2] == '\n') return at + 3;
    }
    return 0;
}

bool PercentDecode(std::string_view text, bool plus_is_space, std::string& out) {
    out.clear();
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '%') {
            if (i + 2 >= text.size()) return false;
            const int high = HexValue(text[i + 1]);
            const int low = HexValue(text[i + 2]);
            if (high < 0 || low < 0) return false;
            const char byte = static_cast<char>(high * 16 + low);
            if (byte == '\0') return false;
            out += byte;
            i += 2;
        } else {
            out += plus_is_space && c == '+' ? ' ' : c;
        }
    }
    return true;
}

void ParseFormFields(std::string_view text, std::map<std::string, std::string>& out) {
    size_t at = 0;
    while (at <= text.size()) {
        const size_t end = std::min(text.find('&', at), text.size());
        const std::string_view pair = text.substr(at, end - at);
        at = end + 1;
        if (pair.empty()) continue;
        const size_t equals = pair.find('=');
        std::string name, value;
        if (!PercentDecode(pair.substr(0, equals), true, name)) continue;
        if (equals != std::string_view::npos && !PercentDecode(pair.substr(equals + 1), true, value)) continue;
        out.emplace(std::move(name), std::move(value));
    }
}

HeadOutcome ParseRequestHead(std::string_view head, size_t max_body, HttpRequest& request) {
    size_t at = 0;
    std::string_view line = NextLine(head, at);
    // A client may send empty lines between requests.
    while (line.empty() && at < head.size()) line = NextLine(head, at);

    const size_t first_space = line.find(' ');
    const size_t last_space = line.rfind(' ');
    if (first_space == std::string_view::npos || first_space == last_space) return Refuse(400, "malformed request line");
    const std::string_view method = line.substr(0, first_space);
    const std::string_view target = line.substr(first_space + 1, last_space - first_space - 1);
    const std::string_view version = line.substr(last_space + 1);
    if (!IsToken(method)) return Refuse(400, "malformed method");
    if (version.substr(0, 5) != "HTTP/") return Refuse(400, "malformed protocol version");
    if (version != "HTTP/1.1" && version != "HTTP/1.0") return Refuse(505, "only HTTP/1.0 and HTTP/1.1 are spoken");
    if (target.empty() || target.front() != '/' || target.find_first_of(" \t") != std::string_view::npos)
        return Refuse(400, "malformed request target");

    request.method.assign(method);
    const size_t question = target.find('?');
    if (!PercentDecode(target.substr(0, question), false, request.path)) return Refuse(400, "malformed path escape");
    request.query.clear();
    if (question != std::string_view::npos) ParseFormFields(target.substr(question + 1), request.query);

    HeadOutcome outcome;
    outcome.keep_alive = version == "HTTP/1.1";
    request.headers.clear();
    bool has_length = false;
    size_t fields = 0;
    while (at < head.size()) {
        line = NextLine(head, at);
        if (line.empty()) break;
        if (++fields > kMaxHeaderFields) return Refuse(431, "too many header fields");
        // A folded line (starting with a blank) is obsolete and a classic smuggling aid.
        if (line.front() == ' ' || line.front() == '\t') return Refuse(400, "folded header line");
        const size_t colon = line.find(':');
        if (colon == std::string_view::npos || !IsToken(line.substr(0, colon)))
            return Refuse(400, "malformed header field");
        const std::string name = Lower(line.substr(0, colon));
        const std::string_view value = Trim(line.substr(colon + 1));
        if (!IsFieldValue(value)) return Refuse(400, "control character in a header field");

        if (name == "content-length") {
            size_t length = 0;
            const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), length);
            if (value.empty() || error != std::errc() || end != value.data() + value.size())
                return Refuse(400, "malformed Content-Length");
            if (has_length && length != outcome.content_length) return Refuse(400, "conflicting Content-Length");
            has_length = true;
            outcome.content_length = length;
        }
        auto [slot, inserted] = request.headers.emplace(name, std::string(value));
        if (!inserted) slot->second += ", " + std::string(value);
    }

    const std::string connection = Lower(request.Header("connection"));
    if (connection.find("close") != std::string::npos) outcome.keep_alive = false;
    if (connection.find("keep-alive") != std::string::npos && version == "HTTP/1.0") outcome.keep_alive = true;

    if (!request.Header("transfer-encoding").empty())
        return Refuse(411, "chunked or otherwise encoded bodies are not accepted; send Content-Length");
    const std::string encoding = Lower(request.Header("content-encoding"));
    if (!encoding.empty() && encoding != "identity") return Refuse(415, "compressed bodies are not accepted");
    const bool needs_body = request.method == "POST" || request.method == "PUT" || request.method == "PATCH";
    if (needs_body && !has_length) return Refuse(411, "a body needs a Content-Length");
    if (outcome.content_length > max_body) return Refuse(413, "the body is larger than the service takes");
    outcome.expect_continue = Lower(request.Header("expect")) == "100-continue";
    return outcome;
}

}  // namespace http
