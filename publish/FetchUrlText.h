// A plain fetch of a web page's text, for the main window's notices.
#pragma once

#include <string>

// GETs `url` (http or https only, redirects followed) with the user agent "Vellumark"
// and returns the whole reply. Empty when the address cannot be reached, the server
// answers with an error status, or the reply is larger than a page of text can be.
std::string FetchUrlText(const std::string& url);
