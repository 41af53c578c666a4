#include "ui/FtpServerCheck.h"

#include "config/AppConfig.h"
#include "publish/NetworkSettings.h"
#include "publish/PublishSettings.h"
#include "publish/Uploader.h"
#include "ui/CServerKeyDlg.h"

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

FtpConnectResult ConnectToFtpProfile(AppConfig& cfg, const std::string& key)
{
    const FtpProfile profile = ReadFtpProfile(cfg, key);
    const FtpTransport transport = ReadFtpTransport(cfg, key);
    const int32_t port = PortOf(cfg, key, transport.protocol);
    PublishSettings settings = PublishSettingsFrom(cfg);
    settings.net_timeout_ms = kLoginTimeoutMs;
    std::atomic<int32_t> progress{0};
    std::atomic<int32_t> state{0};
    Uploader uploader(&progress, &state, settings);
    uploader.SetFtpTarget(key, profile.user, profile.password, profile.passive, port);
    uploader.SetFtpTransport(transport);

    FtpConnectResult result;
    result.server = QString::fromStdString(profile.host) + QLatin1Char(':') + QString::number(port);
    result.logged_in = uploader.ConnectFtp();
    if (!result.logged_in) {
        result.identity = uploader.FtpIdentity();
        result.reason = FailureReason(uploader.Ftp());
    }
    uploader.CloseAll();
    return result;
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
    if (!ConfirmServerFingerprint(cfg, key, identity.offered)) {
        result.reason = QString::fromStdString(DescribeIdentityProblem(identity));
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
                        : QString::fromStdString(DescribeIdentityProblem(second.identity));
    return result;
}
