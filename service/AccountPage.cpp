#include "service/AccountPage.h"

#include "pagegen/TextLimits.h"

#include <cstdint>

namespace service {
namespace {

std::string Escape(const std::string& text) { return pagegen::EscapeHtml(text, SIZE_MAX); }

std::string Page(const std::string& title, const std::string& body) {
    return "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
           "<meta name=\"viewport\" content=\"width=device-width\"><title>" +
           title + "</title></head>\n<body>\n<h1>" + title + "</h1>\n" + body + "</body></html>\n";
}

}  // namespace

std::string AccountFormPage() {
    return Page("Create a publishing account",
                "<form method=\"post\" action=\"/createPubAccount.asp\">\n"
                "<p><label>E-mail <input type=\"email\" name=\"email\" maxlength=\"31\" required></label></p>\n"
                "<p><label>Password <input type=\"password\" name=\"password\" maxlength=\"31\" required>"
                "</label></p>\n<p><button type=\"submit\">Create account</button></p>\n</form>\n"
                "<p>E-mail and password hold at most 31 characters each.</p>\n");
}

std::string AccountCreatedPage(const std::string& email) {
    return Page("Account created", "<p>The account <strong>" + Escape(email) +
                                       "</strong> was created. Enter it with its password in the "
                                       "publishing settings of Vellumark.</p>\n");
}

std::string AccountErrorPage(const std::string& message) {
    return Page("Account not created",
                "<p>" + Escape(message) + "</p>\n<p><a href=\"/createPubAccount.asp\">Try again</a></p>\n");
}

}  // namespace service
