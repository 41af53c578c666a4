// Runs a loopback test peer (a script of Debian's python3) that writes the port it
// listens on into a file; the peer is killed when the object goes.
#pragma once

#include <filesystem>
#include <string>
#include <sys/types.h>
#include <vector>

class PeerProcess {
public:
    // Starts /usr/bin/python3 with `args` and waits (at most 15 s) for `port_file`.
    PeerProcess(const std::vector<std::string>& args, const std::filesystem::path& port_file);
    ~PeerProcess();
    PeerProcess(const PeerProcess&) = delete;
    PeerProcess& operator=(const PeerProcess&) = delete;

    int Port() const { return port_; }
    void Stop();

private:
    pid_t pid_ = -1;
    int port_ = 0;
};
