#include "service/ServiceRoutes.h"

#include "config/DiagLog.h"
#include "service/AccountPage.h"
#include "service/http/RequestHead.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <fstream>
#include <sstream>

namespace service {
namespace {

constexpr const char* kModule = "ServiceRoutes";
constexpr const char* kHtml = "text/html; charset=utf-8";

std::string Lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

http::HttpResponse FromWebReply(const WebReply& reply) {
    http::HttpResponse response;
    response.status = reply.status;
    for (const auto& [name, value] : reply.headers) response.SetHeader(name, value);
    if (!reply.location.empty()) {
        response.SetHeader("Location", reply.location);
        response.SetContent("", "text/plain; charset=utf-8");
        return response;
    }
    response.SetHeader("Content-Type", reply.content_type);
    if (reply.file.empty()) response.body = reply.body;
    else response.file = reply.file;
    return response;
}

std::string ReadText(const std::string& path) {
    if (path.empty()) return std::string();
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    if (in) text << in.rdbuf();
    return text.str();
}

http::HttpResponse Status(int status, const std::string& text) {
    http::HttpResponse response;
    response.status = status;
    response.SetContent(text, "text/plain");
    return response;
}

http::HttpResponse AccountPage(int status, std::string html) {
    http::HttpResponse response;
    response.status = status;
    response.SetContent(std::move(html), kHtml);
    return response;
}

// The whole-file size an upload announces; -1 when absent or not a number.
int64_t AnnouncedSize(const std::string& text) {
    int64_t size = -1;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), size);
    return text.empty() || error != std::errc() || end != text.data() + text.size() || size < 0 ? -1 : size;
}

}  // namespace

ServiceRoutes::ServiceRoutes(const ServiceOptions& options, ClientRequests& requests, BookPages& pages,
                             AccountStore& accounts)
    : options_(options), requests_(requests), pages_(pages), accounts_(accounts) {}

std::string ServiceRoutes::ClientAddress(const http::HttpRequest& request) const {
    const auto& proxies = options_.trusted_proxies;
    if (std::find(proxies.begin(), proxies.end(), request.peer_address) == proxies.end()) return request.peer_address;
    const std::string& named = request.Header("x-real-ip");
    return IsIpAddress(named) ? named : request.peer_address;
}

http::HttpResponse ServiceRoutes::Handle(const http::HttpRequest& request) {
    http::HttpResponse response;
    const std::string& path = request.path;
    const bool get = request.method == "GET" || request.method == "HEAD";
    if (request.method == "POST" && path == options_.service_path) {
        response = ClientMessage(request);
    } else if (get && path == "/vellumark/booklet.asp") {
        response = FromWebReply(pages_.Booklet(request.Param("guid")));
    } else if (get && path.rfind(BookPages::kBooksPrefix, 0) == 0) {
        // The service has no address of its own configured, so a book's page names the one
        // the reader asked for: the answer goes only to that reader (nothing here keeps
        // it for others), and a Host that is no plain host name leaves the address out.
        // Only a trusted proxy in front is believed when it says the reader came by https.
        const auto& proxies = options_.trusted_proxies;
        const bool proxied = std::find(proxies.begin(), proxies.end(), request.peer_address) != proxies.end();
        const std::string books_address =
            PublicBooksAddress(request.Header("host"), proxied ? request.Header("x-forwarded-proto") : std::string());
        response = FromWebReply(pages_.Serve(path.substr(std::string(BookPages::kBooksPrefix).size()), books_address));
    } else if (get && path == "/vellumark/corvanenotifier.aspx") {
        response.SetContent(ReadText(options_.notice_file), "text/plain; charset=utf-8");
    } else if (get && path == "/createPubAccount.asp") {
        response = AccountPage(200, AccountFormPage());
    } else if (request.method == "POST" && path == "/createPubAccount.asp") {
        response = CreateAccount(request);
    } else {
        const bool known = path == options_.service_path || path == "/vellumark/booklet.asp" ||
                           path == "/vellumark/corvanenotifier.aspx" || path == "/createPubAccount.asp" ||
                           path.rfind(BookPages::kBooksPrefix, 0) == 0;
        response = known ? Status(405, "ERR:http status 405\n") : Status(404, "ERR:http status 404\n");
    }
    // No answer of the service is ever to be read as another type than it says.
    response.SetHeader("X-Content-Type-Options", "nosniff");
    return response;
}

http::HttpResponse ServiceRoutes::ClientMessage(const http::HttpRequest& request) {
    ClientContext context;
    context.address = ClientAddress(request);
    context.session_key = request.Header(Lower(kSessionHeader));
    context.file_size = AnnouncedSize(request.Header(Lower(kFileSizeHeader)));
    context.file_encoding = request.Header(Lower(kFileEncodingHeader));
    context.update_id = request.Header(Lower(kUpdateHeader));
    const ClientReply reply = requests_.Handle(request.body, context);
    http::HttpResponse response;
    response.SetContent(reply.body, "application/octet-stream");
    // A login's key is a secret for this client only: never kept by a cache on the way.
    response.SetHeader("Cache-Control", "no-store");
    if (!reply.session_key.empty()) {
        response.SetHeader(kSessionHeader, reply.session_key);
        response.SetHeader(kChunkHeader, std::to_string(kMaxChunkKiB));
        response.SetHeader(kFileEncodingHeader, kPackedFileEncoding);
    }
    if (!reply.update_id.empty()) response.SetHeader(kUpdateHeader, reply.update_id);
    return response;
}

http::HttpResponse ServiceRoutes::CreateAccount(const http::HttpRequest& request) {
    std::map<std::string, std::string> form;
    if (Lower(request.Header("content-type")).rfind("application/x-www-form-urlencoded", 0) == 0)
        http::ParseFormFields(request.body, form);
    if (!form.count("email") || !form.count("password"))
        return AccountPage(400, AccountErrorPage("Both the e-mail address and the password are needed."));
    const std::string& email = form["email"];
    switch (accounts_.Create(email, form["password"], ClientAddress(request))) {
        case CreateResult::Created:
            DIAG(kModule, 0, "INF:account %s created", email.c_str());
            return AccountPage(200, AccountCreatedPage(email));
        case CreateResult::Exists:
            return AccountPage(409, AccountErrorPage("An account with this e-mail address exists already."));
        case CreateResult::Invalid:
            return AccountPage(400, AccountErrorPage("The e-mail address (with an @) and the password must each hold "
                                                     "1 to 31 characters."));
        case CreateResult::TooMany: {
            http::HttpResponse refused = AccountPage(
                429, AccountErrorPage("Too many accounts were created from your address; please try again later."));
            refused.SetHeader("Retry-After", "3600");
            return refused;
        }
        case CreateResult::Failed: break;
    }
    return AccountPage(500, AccountErrorPage("The account cannot be stored now; please try again later."));
}

}  // namespace service
