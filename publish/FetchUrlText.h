// A plain fetch of a web page's text, for the main window's notices.
#pragma once

#include <cstdint>
#include <string>

// GETs `url` (http or https only, redirects followed) with the user agent "Vellumark"
// and returns the whole reply. `timeout_ms` is the network time-out the fetch's
// deadlines derive from (see ExchangeLimits): a server that stalls or trickles its page
// is given up like an unreachable one. Empty when the address cannot be reached, the
// server answers with an error status, or the reply is larger than a page of text can be.
std::string FetchUrlText(const std::string& url, int32_t timeout_ms = 30000);
