#include "ui/FtpServerCheck.h"

#include "config/AppConfig.h"
#include "publish/NetworkSettings.h"
#include "publish/PublishSettings.h"
#include "publish/Uploader.h"
#include "ui/CDlgLocalize.h"
#include "ui/CServerKeyDlg.h"
#include "ui/FingerprintLines.h"

#include <QApplication>

#include <curl/curl.h>

#include <atomic>

namespace {

// The check runs while a dialog waits: it must not hang on a silent network.
constexpr int32_t kLoginTimeoutMs = 15000;

// The stored port, or the protocol's usual one when none is stored.
int32_t PortOf(AppConfig& cfg, const std::string& key, FtpProtocol protocol)
{
    const int32_t stored = cfg.m_ftp_ini.ReadInt(key, "ftp_port");
    return stored > 0 && stored <= 65535 ? stored : DefaultFtpPort(protocol);
}

// Why the last connection failed: the server's refusal when it gave one, else the
// library's description of what broke.
QString FailureReason(const FtpSession& session)
{
    if (session.LastFailure() == FtpFailure::Other && !session.LastReply().empty())
        return QString::fromStdString(session.LastReply());
    if (session.LastError() != 0)
        return QString::fromUtf8(curl_easy_strerror(static_cast<CURLcode>(session.LastError())));
    return QString::fromStdString(session.LastReply());
}

}  // namespace

bool ProfileChecksServerIdentity(AppConfig& cfg, const std::string& key)
{
    return ReadFtpTransport(cfg, key).protocol != FtpProtocol::Ftp;
}

namespace {

// One connection to the server of a profile, with the check's time-out.
class ProfileConnection {
public:
    ProfileConnection(AppConfig& cfg, const std::string& key)
        : settings_(CheckSettings(cfg)), uploader_(&progress_, &state_, settings_)
    {
        const FtpProfile profile = ReadFtpProfile(cfg, key);
        const FtpTransport transport = ReadFtpTransport(cfg, key);
        const int32_t port = PortOf(cfg, key, transport.protocol);
        uploader_.SetFtpTarget(key, profile.user, profile.password, profile.passive, port);
        uploader_.SetFtpTransport(transport);
        result_.server = QString::fromStdString(profile.host) + QLatin1Char(':') + QString::number(port);
        result_.logged_in = uploader_.ConnectFtp();
        if (!result_.logged_in) {
            result_.identity = uploader_.FtpIdentity();
            result_.reason = FailureReason(uploader_.Ftp());
        }
    }
    ~ProfileConnection() { uploader_.CloseAll(); }
    const FtpConnectResult& Result() const { return result_; }
    Uploader& Session() { return uploader_; }

private:
    static PublishSettings CheckSettings(const AppConfig& cfg)
    {
        PublishSettings settings = PublishSettingsFrom(cfg);
        settings.net_timeout_ms = kLoginTimeoutMs;
        return settings;
    }

    PublishSettings settings_;
    std::atomic<int32_t> progress_{0};
    std::atomic<int32_t> state_{0};
    Uploader uploader_;
    FtpConnectResult result_;
};

// Makes the folders of `path` one by one below the login folder; true when the last one
// is then the current folder.
bool MakeFolderPath(FtpSession& session, const std::string& path)
{
    if (!session.ChangeFolder(session.LoginFolder()))
        return false;
    size_t start = 0;
    while (start < path.size()) {
        const size_t end = std::min(path.find('/', start), path.size());
        const std::string part = path.substr(start, end - start);
        start = end + 1;
        if (part.empty())
            continue;
        if (!session.ChangeFolder(part) && !(session.MakeFolder(part) && session.ChangeFolder(part)))
            return false;
    }
    return true;
}

}  // namespace

FtpConnectResult ConnectToFtpProfile(AppConfig& cfg, const std::string& key)
{
    ProfileConnection connection(cfg, key);
    return connection.Result();
}

FolderCheckResult CheckFtpFolder(AppConfig& cfg, const std::string& key, bool create)
{
    FolderCheckResult result;
    const size_t slash = key.find('/');
    const std::string folder = slash == std::string::npos ? std::string() : key.substr(slash + 1);
    result.folder = QStringLiteral("/") + QString::fromStdString(folder);
    QApplication::setOverrideCursor(Qt::WaitCursor);
    ProfileConnection connection(cfg, key);
    result.server = connection.Result().server;
    Uploader& uploader = connection.Session();
    FtpSession& session = uploader.Ftp();
    if (!connection.Result().logged_in) {
        result.state = FolderState::kNoLogin;
        result.reason = connection.Result().reason;
    } else if (!uploader.SetupFirstFtpDir() && !(create && MakeFolderPath(session, folder))) {
        result.state = FolderState::kMissing;
        result.reason = FailureReason(session);
    } else {
        // A folder made and removed again proves that new files can go there.
        static const std::string kProbe = ".vellumark-write-check";
        const bool writable = session.MakeFolder(kProbe);
        result.reason = writable ? QString() : FailureReason(session);
        if (writable)
            session.RemoveFolder(kProbe);
        result.state = writable ? FolderState::kWritable : FolderState::kNotWritable;
    }
    QApplication::restoreOverrideCursor();
    return result;
}

FolderCheckResult CheckFtpFolderAsking(QWidget* owner, AppConfig& cfg, const std::string& key)
{
    FolderCheckResult result = CheckFtpFolder(cfg, key, false);
    if (result.state != FolderState::kMissing)
        return result;
    if (CDlgLocalize::MessageBoxByKey(owner, "ftp_folder_missing", QMessageBox::Yes | QMessageBox::No,
                                      QMessageBox::Yes) != QMessageBox::Yes) {
        result.declined = true;
        return result;
    }
    return CheckFtpFolder(cfg, key, true);
}

QString DescribeFolderCheck(const FolderCheckResult& result)
{
    const auto line = [](const char* key, const QString& value) {
        return CDlgLocalize::Lookup("MESSAGEBOX", key).arg(value) + QLatin1Char('\n');
    };
    switch (result.state) {
    case FolderState::kWritable:
        return line("ftp_test_ok", result.server) + line("ftp_folder_ok", result.folder).chopped(1);
    case FolderState::kMissing:
        return line("ftp_folder_not_made", result.folder) + result.reason;
    case FolderState::kNotWritable:
        return line("ftp_folder_read_only", result.folder) + result.reason;
    case FolderState::kNoLogin:
        return line("ftp_login_failed", result.server) + result.reason;
    }
    return {};
}

ServerCheckResult CheckFtpServer(QWidget* owner, AppConfig& cfg, const std::string& key)
{
    QApplication::setOverrideCursor(Qt::WaitCursor);
    FtpConnectResult first = ConnectToFtpProfile(cfg, key);
    QApplication::restoreOverrideCursor();

    ServerCheckResult result;
    result.server = first.server;
    if (first.logged_in) {
        result.outcome = ServerCheck::kLoggedIn;
        return result;
    }
    const ServerIdentity& identity = first.identity;
    if (identity.check == IdentityCheck::Trusted) {
        result.reason = first.reason;
        return result;
    }
    // A key that could not be read cannot be accepted: there is nothing to compare.
    if (!IsFingerprint(identity.offered)) {
        result.reason = QString::fromStdString(DescribeIdentityProblem(identity));
        return result;
    }
    if (AskAboutServerKey(owner, identity, first.server) != QMessageBox::Yes) {
        result.outcome = ServerCheck::kDeclined;
        return result;
    }
    if (!ConfirmServerFingerprint(cfg, key, identity.offered, identity.offered_type)) {
        result.reason = IdentityLines(identity).join(QLatin1Char('\n'));
        return result;
    }
    // The key is accepted; logging in again tells the user at once whether the account works.
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const FtpConnectResult second = ConnectToFtpProfile(cfg, key);
    QApplication::restoreOverrideCursor();
    if (second.logged_in) {
        result.outcome = ServerCheck::kLoggedIn;
        return result;
    }
    result.reason = second.identity.check == IdentityCheck::Trusted
                        ? second.reason
                        : IdentityLines(second.identity).join(QLatin1Char('\n'));
    return result;
}
