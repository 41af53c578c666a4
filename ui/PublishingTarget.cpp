#include "ui/PublishingTarget.h"

#include "config/AppConfig.h"
#include "ui/CDlgLocalize.h"
#include "ui/UserPrompts.h"

#include <QStringList>

PublishingTarget CurrentPublishingTarget(const AppConfig& cfg)
{
    PublishingTarget target;
    target.ftp = cfg.m_use_ftp == 1;
    target.service = cfg.m_use_vazirudu == 1;
    target.ftp_url = cfg.m_ftp_url;
    target.service_host = cfg.m_vazirudu_domain;
    return target;
}

QString DescribePublishingTarget(const PublishingTarget& target)
{
    if (!target.ftp && !target.service)
        return CDlgLocalize::Lookup("ADVANCED", "not_upload");
    // Each target names its server, so the user can see which one it is.
    auto named = [](const QString& kind, const std::string& server) {
        return server.empty() ? kind : kind + QStringLiteral(" (") + QString::fromStdString(server) + QLatin1Char(')');
    };
    QStringList targets;
    if (target.ftp)
        targets << named(CDlgLocalize::Lookup("ADVANCED", "ftp"), target.ftp_url);
    if (target.service)
        targets << named(CDlgLocalize::Lookup("ADVANCED", "leafpub"), target.service_host);
    return CDlgLocalize::Lookup("ADVANCED", "upload_to") + QLatin1Char(' ') + targets.join(QStringLiteral(", "));
}

bool AgreeToTargetChange(QWidget* owner, const AppConfig& cfg, const PublishingTarget& wanted)
{
    const QString now = DescribePublishingTarget(CurrentPublishingTarget(cfg));
    const QString then = DescribePublishingTarget(wanted);
    if (now == then)
        return true;
    PromptRequest request;
    request.icon = QMessageBox::Question;
    request.caption = QStringLiteral("Vellumark");
    request.text = CDlgLocalize::LocaliseText(QStringLiteral("<#[MESSAGEBOX:target_change]#>")).arg(now, then);
    request.buttons = QMessageBox::Yes | QMessageBox::No;
    request.default_button = QMessageBox::Yes;
    return ShowPrompt(owner, request) == QMessageBox::Yes;
}
