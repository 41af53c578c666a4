#include "ui/DlgNotifier.h"

#include "ui/CDlgLocalize.h"
#include "ui/UserPrompts.h"

#include <QDialogButtonBox>
#include <QGuiApplication>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

QVariant NoticeBrowser::loadResource(int, const QUrl&)
{
    return {};
}

DlgNotifier::DlgNotifier(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("notifierDialog"));
    setWindowTitle(QStringLiteral("<#[MAINDLG:notifier_title]#>"));
    auto* layout = new QVBoxLayout(this);
    browser_ = new NoticeBrowser(this);
    browser_->setObjectName(QStringLiteral("notifierBrowser"));
    browser_->setAccessibleName(QStringLiteral("<#[MAINDLG:notifier_title]#>"));
    browser_->setOpenLinks(false);
    connect(browser_, &QTextBrowser::anchorClicked, this, &DlgNotifier::OpenLink);
    layout->addWidget(browser_, 1);
    auto* buttons = new QDialogButtonBox(this);
    QPushButton* close = buttons->addButton(QStringLiteral("<#[ok]#>"), QDialogButtonBox::AcceptRole);
    close->setObjectName(QStringLiteral("okButton"));
    close->setDefault(true);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    layout->addWidget(buttons);
    CDlgLocalize::LocaliseDialog(this);
}

void DlgNotifier::ShowPage(const QUrl& address, const QString& page, int width, int height)
{
    address_ = address;
    if (Qt::mightBeRichText(page))
        browser_->setHtml(page);
    else
        browser_->setPlainText(page);
    QSize size(width, height);
    if (QScreen* screen = QGuiApplication::primaryScreen())
        size = size.boundedTo(screen->availableGeometry().size());
    resize(size);
    show();
    raise();
}

void DlgNotifier::OpenLink(const QUrl& link)
{
    // Links of the page lead to web pages only, never to a local file or program.
    const QUrl target = address_.resolved(link);
    if (target.scheme() == QLatin1String("http") || target.scheme() == QLatin1String("https"))
        OpenWithDesktop(target, "MainDlg");
}
