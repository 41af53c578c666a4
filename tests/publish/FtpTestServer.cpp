#include "FtpTestServer.h"

#include "tests/helpers/TempHome.h"

#include <chrono>
#include <csignal>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <vector>

extern char** environ;

namespace fs = std::filesystem;

FtpTestServer::FtpTestServer(const fs::path& root, FtpFault fault) : root_(root / "served") {
    fs::create_directories(root_);
    const fs::path port_file = root / "ftp.port";
    const std::string script = (SourceDir() / "tests/publish/ftp_test_server.py").string();
    std::vector<std::string> args = {"/usr/bin/python3", script, root_.string(), port_file.string()};
    if (fault == FtpFault::DropOnce) args.push_back("--drop-once");
    if (fault == FtpFault::ReadOnly) args.push_back("--read-only");
    std::vector<char*> argv;
    for (auto& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    if (posix_spawn(&pid_, argv[0], nullptr, nullptr, argv.data(), environ) != 0) {
        pid_ = -1;
        return;
    }
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    while (std::chrono::steady_clock::now() < end) {
        const std::string text = ReadFileBytes(port_file);
        if (!text.empty()) {
            port_ = std::stoi(text);
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

void FtpTestServer::Stop() {
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }
}

FtpTestServer::~FtpTestServer() { Stop(); }
