#include "tests/ui/PrivateKeyring.h"

#include "config/SecretServiceStore.h"

#include <QElapsedTimer>
#include <QThread>

#include <cstdlib>
#include <fstream>

namespace fs = std::filesystem;

namespace {

constexpr int kStartMs = 15000;

// A session bus that only listens in `folder`, with no services to start on demand.
void WriteBusConfig(const fs::path& file, const fs::path& folder)
{
    std::ofstream out(file);
    out << "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
           " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
           "<busconfig>\n  <type>session</type>\n"
           "  <listen>unix:dir=" << folder.string() << "</listen>\n"
           "  <auth>EXTERNAL</auth>\n"
           "  <policy context=\"default\">\n"
           "    <allow send_destination=\"*\" eavesdrop=\"true\"/>\n"
           "    <allow eavesdrop=\"true\"/>\n"
           "    <allow own=\"*\"/>\n"
           "  </policy>\n</busconfig>\n";
}

void Stop(QProcess& process)
{
    if (process.state() == QProcess::NotRunning)
        return;
    process.terminate();
    if (!process.waitForFinished(5000)) {
        process.kill();
        process.waitForFinished(5000);
    }
}

}  // namespace

PrivateKeyring::PrivateKeyring(const fs::path& folder)
{
    fs::create_directories(folder / "run");
    fs::create_directories(folder / "data");
    if (!StartBus(folder) || !StartKeyring(folder))
        return;
    setenv("DBUS_SESSION_BUS_ADDRESS", address_.c_str(), 1);
    // The keyring takes its name on the bus a moment after it starts.
    SecretServiceStore probe;
    QElapsedTimer waited;
    waited.start();
    while (!(running_ = probe.Available()) && waited.elapsed() < kStartMs)
        QThread::msleep(100);
    if (!running_)
        problem_ = std::string("gnome-keyring-daemon did not answer (") +
                   (keyring_.state() == QProcess::Running ? "running" : "ended") +
                   "): " + keyring_.readAllStandardError().toStdString();
}

PrivateKeyring::~PrivateKeyring()
{
    unsetenv("DBUS_SESSION_BUS_ADDRESS");
    Stop(keyring_);
    Stop(bus_);
}

bool PrivateKeyring::StartBus(const fs::path& folder)
{
    const fs::path config = folder / "bus.conf";
    WriteBusConfig(config, folder / "run");
    bus_.start(QStringLiteral("dbus-daemon"), {QStringLiteral("--config-file=") + QString::fromStdString(config.string()),
                                               QStringLiteral("--nofork"), QStringLiteral("--print-address=1")});
    if (!bus_.waitForStarted(kStartMs)) {
        problem_ = "dbus-daemon cannot be started";
        return false;
    }
    QElapsedTimer waited;
    waited.start();
    while (!bus_.canReadLine() && waited.elapsed() < kStartMs)
        bus_.waitForReadyRead(200);
    address_ = bus_.readLine().trimmed().toStdString();
    if (address_.empty())
        problem_ = "dbus-daemon gave no address";
    return !address_.empty();
}

bool PrivateKeyring::StartKeyring(const fs::path& folder)
{
    QProcessEnvironment env;
    env.insert(QStringLiteral("PATH"), QStringLiteral("/usr/bin:/bin"));
    env.insert(QStringLiteral("HOME"), QString::fromStdString(folder.string()));
    env.insert(QStringLiteral("XDG_DATA_HOME"), QString::fromStdString((folder / "data").string()));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), QString::fromStdString((folder / "run").string()));
    env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), QString::fromStdString(address_));
    keyring_.setProcessEnvironment(env);
    // --unlock reads the password of the login keyring (made now) from standard input.
    keyring_.start(QStringLiteral("gnome-keyring-daemon"),
                   {QStringLiteral("--foreground"), QStringLiteral("--components=secrets"), QStringLiteral("--unlock")});
    if (!keyring_.waitForStarted(kStartMs)) {
        problem_ = "gnome-keyring-daemon cannot be started";
        return false;
    }
    keyring_.write("test-keyring-password");
    keyring_.waitForBytesWritten(kStartMs);
    keyring_.closeWriteChannel();
    return true;
}
