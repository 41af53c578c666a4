#include "ui/CCfgSkinDlg.h"

#include "config/AppConfig.h"
#include "ui/CDlgLocalize.h"
#include "ui/DialogButtons.h"
#include "ui/ToolbarOptions.h"

#include <QDialogButtonBox>
#include <QPushButton>
#include <QVBoxLayout>

CCfgSkinDlg::CCfgSkinDlg(AppConfig& cfg, QWidget* parent) : QDialog(parent), cfg_(cfg)
{
    setObjectName(QStringLiteral("htmlToolbarDialog"));
    setWindowTitle(QStringLiteral("<#[HTML_TOOLBAR:dlg_caption]#>"));
    auto* layout = new QVBoxLayout(this);
    options_ = std::make_unique<ToolbarOptions>(cfg, this, layout);

    QDialogButtonBox* buttons = MakeOkCancelButtons(this);
    layout->addWidget(buttons);
    CDlgLocalize::LocaliseDialog(this);
}

CCfgSkinDlg::~CCfgSkinDlg() = default;

void CCfgSkinDlg::accept()
{
    options_->Store(cfg_);
    QDialog::accept();
}
