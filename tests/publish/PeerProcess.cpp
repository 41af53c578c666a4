#include "PeerProcess.h"

#include "tests/helpers/TempHome.h"

#include <chrono>
#include <csignal>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>

extern char** environ;

PeerProcess::PeerProcess(const std::vector<std::string>& args, const std::filesystem::path& port_file) {
    std::vector<std::string> all = {"/usr/bin/python3"};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& arg : all) argv.push_back(arg.data());
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

void PeerProcess::Stop() {
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }
}

PeerProcess::~PeerProcess() { Stop(); }
