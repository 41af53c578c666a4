// Runs the loopback FTP test server (Debian's python3 with pyftpdlib) for one test,
// serving a fresh folder; the server is killed when the object goes.
#pragma once

#include "PeerProcess.h"

#include <filesystem>
#include <memory>

class FtpTestServer {
public:
    // `drop_once`: the first upload loses its connections part-way.
    explicit FtpTestServer(const std::filesystem::path& root, bool drop_once = false);
    FtpTestServer(const FtpTestServer&) = delete;
    FtpTestServer& operator=(const FtpTestServer&) = delete;

    bool Running() const { return process_->Port() > 0; }
    int Port() const { return process_->Port(); }
    const std::filesystem::path& Root() const { return root_; }
    void Stop() { process_->Stop(); }

private:
    std::filesystem::path root_;
    std::unique_ptr<PeerProcess> process_;
};
