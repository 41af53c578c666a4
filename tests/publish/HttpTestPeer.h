// A scripted loopback HTTP peer (http_test_peer.py) for one test: it answers canned
// replies and keeps every request it received, byte for byte.
#pragma once

#include "PeerProcess.h"

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

struct PeerRequest {
    std::string head;  // request line and headers, up to the blank line
    std::string body;
    int connection = 0;
    bool dropped = false;  // cut off by the peer half-way through its body
    std::string Code() const { return body.substr(0, 4); }
};

class HttpTestPeer {
public:
    // `script_json`: see http_test_peer.py for its keys.
    HttpTestPeer(const std::filesystem::path& root, const std::string& script_json);

    bool Running() const { return process_->Port() > 0; }
    // The host text for the uploader: "127.0.0.1:<port>".
    std::string Host() const { return "127.0.0.1:" + std::to_string(process_->Port()); }
    // Every request received so far, in order of arrival.
    std::vector<PeerRequest> Requests() const;
    // Waits (at most 10 s) until `count` requests arrived.
    bool WaitForRequests(size_t count) const;

private:
    std::filesystem::path folder_;
    std::unique_ptr<PeerProcess> process_;
};
