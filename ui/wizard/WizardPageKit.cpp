#include "ui/wizard/WizardPageKit.h"

#include "config/AppConfig.h"
#include "ui/CDlgLocalize.h"
#include "ui/ServiceLinks.h"
#include "ui/UserPrompts.h"

#include <QBoxLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QUrl>

QLabel* MakeWizardHeader(QWidget* page, const QString& text)
{
    auto* header = new QLabel(text, page);
    header->setObjectName(QStringLiteral("pageHeader"));
    SetControlId(header, 1049);
    QFont font = header->font();
    font.setBold(true);
    if (font.pointSizeF() > 0)
        font.setPointSizeF(font.pointSizeF() * 5 / 4);
    else
        font.setPixelSize(font.pixelSize() * 5 / 4);
    header->setFont(font);
    header->setWordWrap(true);
    return header;
}

void MakeBold(QWidget* widget)
{
    QFont font = widget->font();
    font.setBold(true);
    widget->setFont(font);
}

QPushButton* MakeWizardButton(QWidget* page, int id, const QString& text, const char* name)
{
    auto* button = new QPushButton(text, page);
    button->setObjectName(QLatin1String(name));
    SetControlId(button, id);
    return button;
}

WizardNavigation MakeWizardNavigation(QWidget* page, QBoxLayout* layout, int buttons)
{
    auto* row = new QHBoxLayout;
    layout->addLayout(row);
    WizardNavigation nav;
    if (buttons & kNavHelp) {
        nav.help = MakeWizardButton(page, 9, QStringLiteral("<#[help]#>"), "helpButton");
        row->addWidget(nav.help);
    }
    row->addStretch(1);
    if (buttons & kNavBack) {
        nav.back = MakeWizardButton(page, 1046, QStringLiteral("<#[back]#>"), "backButton");
        row->addWidget(nav.back);
    }
    if (buttons & kNavNext) {
        nav.next = MakeWizardButton(page, 1, QStringLiteral("<#[next]#>"), "nextButton");
        nav.next->setDefault(true);
        row->addWidget(nav.next);
    }
    if (buttons & kNavExit) {
        nav.exit = MakeWizardButton(page, 2, QStringLiteral("<#[exit]#>"), "exitButton");
        row->addWidget(nav.exit);
    }
    return nav;
}

QString AdvertAddress(const AppConfig& cfg)
{
    return AboutServiceAddress(cfg);
}

void OpenAdvert(const AppConfig& cfg)
{
    OpenWithDesktop(QUrl(AdvertAddress(cfg)), "WizardDlg");
}

void FollowAdvertAddress(const AppConfig& cfg, QWidget* button)
{
    FollowServiceSetting(button, [&cfg] { return !AdvertAddress(cfg).isEmpty(); });
}
