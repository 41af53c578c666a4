// A Secret Service of the test's own: a D-Bus session bus (dbus-daemon) listening in the
// test's folder and gnome-keyring-daemon on it, its login keyring created and unlocked
// with a test password. DBUS_SESSION_BUS_ADDRESS of this process points at the bus while
// it runs; both daemons are stopped when it goes.
#pragma once

#include <QProcess>

#include <filesystem>
#include <string>

class PrivateKeyring {
public:
    explicit PrivateKeyring(const std::filesystem::path& folder);
    ~PrivateKeyring();
    PrivateKeyring(const PrivateKeyring&) = delete;
    PrivateKeyring& operator=(const PrivateKeyring&) = delete;

    // True when the keyring answers on the bus (waits a bounded time for it).
    bool Running() const { return running_; }
    // Why it did not start.
    const std::string& Problem() const { return problem_; }

private:
    bool StartBus(const std::filesystem::path& folder);
    bool StartKeyring(const std::filesystem::path& folder);

    QProcess bus_;
    QProcess keyring_;
    std::string address_;
    bool running_ = false;
    std::string problem_;
};
