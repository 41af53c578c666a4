#include "ui/CNetworkDlg.h"

#include "config/AppConfig.h"
#include "config/DiagLog.h"
#include "ui/CBaseNetworkDlg.h"
#include "ui/CDlgLocalize.h"
#include "ui/HelpGuide.h"
#include "ui/DialogButtons.h"
#include "ui/UserPrompts.h"

#include <cerrno>

#include <QDialogButtonBox>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>

CNetworkDlg::CNetworkDlg(AppConfig& cfg, QWidget* parent) : QDialog(parent), cfg_(cfg)
{
    setObjectName(QStringLiteral("networkDialog"));
    setWindowTitle(QStringLiteral("<#[NETWORK_SETTING:dlg_caption]#>"));
    auto* layout = new QVBoxLayout(this);
    settings_ = new CBaseNetworkDlg(cfg, CBaseNetworkDlg::kBothParts, this);
    layout->addWidget(settings_);
    QDialogButtonBox* buttons = MakeOkCancelButtons(this);
    QPushButton* help = buttons->addButton(QStringLiteral("<#[help]#>"), QDialogButtonBox::HelpRole);
    help->setObjectName(QStringLiteral("helpButton"));
    SetControlId(help, 9);
    connect(help, &QPushButton::clicked, this, [this] { OpenGuide(cfg_, "publishing", "CommonUtil"); });
    layout->addWidget(buttons);
    CDlgLocalize::LocaliseDialog(this);
}

void CNetworkDlg::accept()
{
    NetworkChoice choice;
    if (!settings_->Validate(this, choice))
        return;
    if (!settings_->StoreServiceHost())
        DIAG("NetworkDlg", errno, "ERR:service address not saved");
    SaveNetworkChoice(cfg_, choice);
    QDialog::accept();
}
