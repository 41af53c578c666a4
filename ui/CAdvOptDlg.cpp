#include "ui/CAdvOptDlg.h"

#include "config/AppConfig.h"
#include "ui/CDlgLocalize.h"
#include "ui/HelpGuide.h"
#include "ui/DialogButtons.h"
#include "ui/ImageQualityForm.h"
#include "ui/UserPrompts.h"

#include <QDialogButtonBox>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>

CAdvOptDlg::CAdvOptDlg(AppConfig& cfg, QWidget* parent) : QDialog(parent), cfg_(cfg)
{
    setObjectName(QStringLiteral("imageQualityDialog"));
    setWindowTitle(QStringLiteral("<#[IMG_QUALITY_SETTING:dlg_caption]#>"));
    auto* layout = new QVBoxLayout(this);
    form_ = new ImageQualityForm(cfg, this);
    layout->addWidget(form_);

    QDialogButtonBox* buttons = MakeOkCancelButtons(this);
    QPushButton* help = buttons->addButton(QStringLiteral("<#[help]#>"), QDialogButtonBox::HelpRole);
    help->setObjectName(QStringLiteral("helpButton"));
    connect(help, &QPushButton::clicked, this, [this] { OpenGuide(cfg_, "image-quality", "CommonUtil"); });
    layout->addWidget(buttons);
    CDlgLocalize::LocaliseDialog(this);
}

int CAdvOptDlg::EntryForDpi(const AppConfig& cfg, int32_t dpi)
{
    return ImageQualityForm::EntryForDpi(cfg, dpi);
}

int32_t CAdvOptDlg::DpiForEntry(const AppConfig& cfg, int entry)
{
    return ImageQualityForm::DpiForEntry(cfg, entry);
}

void CAdvOptDlg::accept()
{
    form_->Store();
    QDialog::accept();
}
