// Runs the loopback FTP test server (Debian's python3 with pyftpdlib) for one test,
// serving a fresh folder; the server is killed when the object goes.
#pragma once

#include "PeerProcess.h"

#include <filesystem>
#include <memory>
#include <string>

// A fault the server shows.
enum class FtpFault {
    None,
    DropOnce,  // the first upload loses its connections part-way
    ReadOnly,  // the account may list and read but every write is refused
};

class FtpTestServer {
public:
    explicit FtpTestServer(const std::filesystem::path& root, FtpFault fault = FtpFault::None);
    FtpTestServer(const FtpTestServer&) = delete;
    FtpTestServer& operator=(const FtpTestServer&) = delete;

    bool Running() const { return process_->Port() > 0; }
    int Port() const { return process_->Port(); }
    const std::filesystem::path& Root() const { return root_; }
    void Stop() { process_->Stop(); }
    // The next upload of a file named `file` waits until Release(); WaitUntilHeld says
    // when it does (false after `seconds` without it).
    void Hold(const std::string& file) const;
    bool WaitUntilHeld(int seconds) const;
    void Release() const;

private:
    std::filesystem::path root_;
    std::unique_ptr<PeerProcess> process_;
};
