// Real servers for the transport tests, each started by the test on 127.0.0.1 at a free
// port with a configuration of its own, and stopped when its object goes: OpenSSH's sshd
// (SFTP) and vsftpd (FTP over TLS, with a self-signed certificate made for the test).
//
// Both log in a local account by password, so they need one: when the tests run as root
// each test program takes one of a few dedicated accounts, "vellumark-test" and
// "vellumark-test-2" to "vellumark-test-4" (home "/", no shell, created on first use with
// the comment below and never used by anything else), gives it a new random password for
// the run, and holds that account's lock file so that no other test program running side
// by side changes it under it. An account of such a name that the tests did not create is
// left alone and the tests are skipped, as they are without root.
#pragma once

#include <atomic>
#include <climits>
#include <filesystem>
#include <string>
#include <sys/types.h>
#include <thread>
#include <vector>

// The local account the servers log in; null (with `why`) when it cannot be had.
struct TestAccount {
    std::string name;
    std::string password;
    uid_t uid = 0;
    gid_t gid = 0;
    static const TestAccount* Get(std::string& why);
    // Gives the account a new random password (the old one stops working).
    bool ChangePassword();
};

// Runs a program (no shell) with `input` on its standard input; its exit status, or -1.
int RunTool(const std::vector<std::string>& argv, const std::string& input = "", std::string* output = nullptr);
int FreePort();

// A folder for one server's files: readable by the account (the servers read some
// files as that user), removed with its contents when the object goes.
class ServerFolder {
public:
    ServerFolder();
    ~ServerFolder();
    ServerFolder(const ServerFolder&) = delete;
    ServerFolder& operator=(const ServerFolder&) = delete;
    const std::filesystem::path& Path() const { return path_; }
    // The folder the account logs in to ("site"), owned by the account.
    std::filesystem::path Site() const { return path_ / "site"; }

private:
    std::filesystem::path path_;
};

// A server program started in a process group of its own; killed with the group.
class ServerProcess {
public:
    ServerProcess() = default;
    ~ServerProcess() { Stop(); }
    ServerProcess(const ServerProcess&) = delete;
    ServerProcess& operator=(const ServerProcess&) = delete;
    // Starts `argv` with standard output and error into `log`; waits (15 s at most) until
    // `port` accepts connections (port 0: a server without one, not waited for).
    bool Start(const std::vector<std::string>& argv, const std::filesystem::path& log, int port);
    void Stop();
    pid_t Pid() const { return pid_; }
    // Kills the processes that serve connections (the children of the listener), so that
    // every connection breaks at once while the server goes on accepting new ones.
    int KillSessions();

private:
    pid_t pid_ = -1;
};

class SshdServer {
public:
    SshdServer(const TestAccount& account, const ServerFolder& folder);
    bool Running() const { return running_; }
    int Port() const { return port_; }
    // The host key's fingerprint as ssh-keygen shows it ("SHA256:...").
    const std::string& Fingerprint() const { return fingerprint_; }
    // The host key's public line ("ssh-ed25519 AAAA..."), for a known_hosts file.
    const std::string& PublicKeyLine() const { return public_key_; }
    // A private key the server accepts for the account, enciphered with KeyPassphrase().
    std::filesystem::path KeyFile() const { return dir_ / "client_key"; }
    static std::string KeyPassphrase() { return "horse battery staple 7"; }
    ServerProcess& Process() { return process_; }

private:
    std::filesystem::path dir_;
    int port_ = 0;
    bool running_ = false;
    std::string fingerprint_, public_key_;
    ServerProcess process_;
};

class VsftpdServer {
public:
    // `max_rate` (bytes a second, 0: no limit) slows transfers down, so that a test can
    // catch one half-way.
    VsftpdServer(const TestAccount& account, const ServerFolder& folder, int max_rate = 0);
    bool Running() const { return running_; }
    int Port() const { return port_; }
    // The fingerprint of the certificate's public key as openssl computes it.
    const std::string& Fingerprint() const { return fingerprint_; }
    const std::filesystem::path& Certificate() const { return certificate_; }
    ServerProcess& Process() { return process_; }

private:
    int port_ = 0;
    bool running_ = false;
    std::string fingerprint_;
    std::filesystem::path certificate_;
    ServerProcess process_;
};

// A loopback relay in front of a server that cuts the first connection through it once,
// after it has passed `cut_after` bytes towards the server; later connections pass whole.
// With `rate` (bytes a second), it passes data towards the server no faster, as a slow
// line would. Connections past the first `passed` are closed at once, as by a server that
// takes so many per account.
class CuttingRelay {
public:
    CuttingRelay(int target_port, long cut_after, long rate = 0, int passed = INT_MAX);
    ~CuttingRelay();
    CuttingRelay(const CuttingRelay&) = delete;
    CuttingRelay& operator=(const CuttingRelay&) = delete;
    int Port() const { return port_; }
    bool Cut() const { return cut_.load(); }
    int Connections() const { return connections_.load(); }

private:
    void Accept();
    void Pass(int client);

    int target_port_;
    long cut_after_;
    long rate_;
    int passed_;
    int listener_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::atomic<bool> cut_{false};
    std::atomic<int> connections_{0};
    std::vector<std::thread> threads_;
};
