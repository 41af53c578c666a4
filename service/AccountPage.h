// The account creation page: the form, and the pages that answer its submission.
#pragma once

#include <string>

namespace service {

std::string AccountFormPage();
// `email` is the user's own text; it is escaped.
std::string AccountCreatedPage(const std::string& email);
std::string AccountErrorPage(const std::string& message);

}  // namespace service
