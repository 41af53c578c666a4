// Answer times of the web-service exchanges a publish_bench process makes, measured on
// the client side around each request (one curl_easy_perform: request sent, answer
// read). The build links publish_bench with -Wl,--wrap=curl_easy_perform, so every
// call the publishing library makes passes through the timer; nothing in publish/ or
// in the service changes for it.
#pragma once

#include <cstdint>
#include <vector>

struct Exchange {
    double seconds;     // from the start of the request to the end of its answer
    int64_t body_bytes; // the request body sent (0: the empty probe before each message)
};

// Every exchange so far, in the order they were made.
std::vector<Exchange> Exchanges();
