#include "FtpTestServer.h"

#include "tests/helpers/TempHome.h"

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
