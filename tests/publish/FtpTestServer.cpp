#include "FtpTestServer.h"

#include "tests/helpers/TempHome.h"

#include <chrono>
#include <thread>

namespace fs = std::filesystem;

FtpTestServer::FtpTestServer(const fs::path& root, FtpFault fault) : root_(root / "served") {
    fs::create_directories(root_);
    const fs::path port_file = root / "ftp.port";
    std::vector<std::string> args = {(SourceDir() / "tests/publish/ftp_test_server.py").string(), root_.string(),
                                     port_file.string()};
    if (fault == FtpFault::DropOnce) args.push_back("--drop-once");
    if (fault == FtpFault::ReadOnly) args.push_back("--read-only");
    process_ = std::make_unique<PeerProcess>(args, port_file);
}

void FtpTestServer::Hold(const std::string& file) const {
    WriteFileBytes(root_.parent_path() / "hold", file);
}

bool FtpTestServer::WaitUntilHeld(int seconds) const {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (!fs::exists(root_.parent_path() / "held")) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

void FtpTestServer::Release() const {
    WriteFileBytes(root_.parent_path() / "release", "");
}
