// The notifier pop-up: a small window that shows the page the publishing service's
// notifier pointed at. It shows text and links only; a link opens in the user's browser.
#pragma once

#include <QDialog>
#include <QTextBrowser>
#include <QUrl>

// A browser that never loads anything by itself: pictures and style sheets the page
// names stay out, so a page from the network can make the program read no file and
// reach no other address.
class NoticeBrowser : public QTextBrowser {
    Q_OBJECT

public:
    using QTextBrowser::QTextBrowser;
    QVariant loadResource(int type, const QUrl& name) override;
};

class DlgNotifier : public QDialog {
    Q_OBJECT

public:
    explicit DlgNotifier(QWidget* parent);

    // Shows `page`, fetched from `address`, in a window of `width` by `height` pixels
    // (kept inside the screen).
    void ShowPage(const QUrl& address, const QString& page, int width, int height);
    QTextBrowser* Browser() { return browser_; }

private:
    void OpenLink(const QUrl& link);

    NoticeBrowser* browser_;
    QUrl address_;
};
