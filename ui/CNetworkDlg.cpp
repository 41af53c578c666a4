#include "ui/CNetworkDlg.h"

#include "config/AppConfig.h"
#include "ui/CBaseNetworkDlg.h"
#include "ui/CDlgLocalize.h"
#include "ui/DialogButtons.h"
#include "ui/UserPrompts.h"

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
    connect(help, &QPushButton::clicked, this, [this] {
        OpenWithDesktop(QUrl::fromLocalFile(QString::fromStdString(cfg_.LoadedProgramFolder() + "help/index.html")),
                        "CommonUtil");
    });
    layout->addWidget(buttons);
    CDlgLocalize::LocaliseDialog(this);
}

void CNetworkDlg::accept()
{
    NetworkChoice choice;
    if (!settings_->Validate(this, choice))
        return;
    SaveNetworkChoice(cfg_, choice);
    QDialog::accept();
}
