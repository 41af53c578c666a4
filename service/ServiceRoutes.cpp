#include "service/ServiceRoutes.h"

#include "config/DiagLog.h"
#include "service/AccountPage.h"

#include <httplib.h>

#include <fstream>
#include <sys/socket.h>
#include <memory>
#include <sstream>

namespace service {
namespace {

constexpr const char* kModule = "ServiceRoutes";

void SendReply(const WebReply& reply, httplib::Response& res) {
    res.status = reply.status;
    res.set_header("X-Content-Type-Options", "nosniff");
    if (!reply.location.empty()) {
        res.set_redirect(reply.location, reply.status);
        return;
    }
    if (reply.file.empty()) {
        res.set_content(reply.body, reply.content_type);
        return;
    }
    auto file = std::make_shared<std::ifstream>(reply.file, std::ios::binary);
    std::error_code error;
    const auto size = std::filesystem::file_size(reply.file, error);
    if (!*file || error) {
        res.status = 404;
        res.set_content("not found\n", "text/plain; charset=utf-8");
        return;
    }
    res.set_content_provider(static_cast<size_t>(size), reply.content_type,
                             [file](size_t offset, size_t length, httplib::DataSink& sink) {
                                 char buffer[64 * 1024];
                                 file->seekg(static_cast<std::streamoff>(offset));
                                 file->read(buffer, static_cast<std::streamsize>(std::min(length, sizeof buffer)));
                                 const auto got = file->gcount();
                                 return got > 0 && sink.write(buffer, static_cast<size_t>(got));
                             });
}

std::string ReadText(const std::string& path) {
    if (path.empty()) return std::string();
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    if (in) text << in.rdbuf();
    return text.str();
}

void CreateAccount(const httplib::Request& req, httplib::Response& res, AccountStore& accounts) {
    const std::string html = "text/html; charset=utf-8";
    if (!req.has_param("email") || !req.has_param("password")) {
        res.status = 400;
        res.set_content(AccountErrorPage("Both the e-mail address and the password are needed."), html);
        return;
    }
    const std::string email = req.get_param_value("email");
    switch (accounts.Create(email, req.get_param_value("password"))) {
        case CreateResult::Created:
            DIAG(kModule, 0, "INF:account %s created", email.c_str());
            res.status = 200;
            res.set_content(AccountCreatedPage(email), html);
            return;
        case CreateResult::Exists:
            res.status = 409;
            res.set_content(AccountErrorPage("An account with this e-mail address exists already."), html);
            return;
        case CreateResult::Invalid:
            res.status = 400;
            res.set_content(AccountErrorPage("The e-mail address (with an @) and the password must each hold "
                                             "1 to 31 characters."),
                            html);
            return;
        case CreateResult::Failed: break;
    }
    res.status = 500;
    res.set_content(AccountErrorPage("The account cannot be stored now; please try again later."), html);
}

}  // namespace

void InstallRoutes(httplib::Server& server, const ServiceOptions& options, ClientRequests& requests,
                   BookPages& pages, AccountStore& accounts) {
    server.set_payload_max_length(kMaxBodyBytes);
    // A reply goes out as two writes (head, then body); without this the body waits for
    // the client's delayed acknowledgement, some 40 ms on every message.
    server.set_tcp_nodelay(true);
    // SO_REUSEADDR only: the library's default (SO_REUSEPORT) would let a second service
    // share a port that is already taken instead of failing to start.
    server.set_socket_options([](int socket) {
        int yes = 1;
        setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    });

    server.Post(options.service_path, [&requests](const httplib::Request& req, httplib::Response& res) {
        res.set_content(requests.Handle(req.body, req.remote_addr), "application/octet-stream");
    });

    server.Get("/vellumark/booklet.asp", [&pages](const httplib::Request& req, httplib::Response& res) {
        SendReply(pages.Booklet(req.get_param_value("guid")), res);
    });
    server.Get(std::string(BookPages::kBooksPrefix) + "(.*)", [&pages](const httplib::Request& req, httplib::Response& res) {
        SendReply(pages.Serve(req.matches[1]), res);
    });

    const std::string notice_file = options.notice_file;
    server.Get("/vellumark/corvanenotifier.aspx", [notice_file](const httplib::Request&, httplib::Response& res) {
        res.set_content(ReadText(notice_file), "text/plain; charset=utf-8");
    });

    server.Get("/createPubAccount.asp", [](const httplib::Request&, httplib::Response& res) {
        res.set_content(AccountFormPage(), "text/html; charset=utf-8");
    });
    server.Post("/createPubAccount.asp", [&accounts](const httplib::Request& req, httplib::Response& res) {
        CreateAccount(req, res, accounts);
    });

    // Errors the library answers itself (too large, bad request, no such address) get a
    // text a client reading a status reply takes for a failure.
    server.set_error_handler([](const httplib::Request&, httplib::Response& res) {
        if (res.body.empty()) res.set_content("ERR:http status " + std::to_string(res.status) + "\n", "text/plain");
    });
    server.set_exception_handler([](const httplib::Request&, httplib::Response& res, std::exception_ptr) {
        res.status = 500;
        res.set_content("ERR:internal error\n", "text/plain");
    });
}

}  // namespace service
