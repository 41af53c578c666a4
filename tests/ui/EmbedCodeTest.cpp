// The embed code of a published book on the wizard's last page and in the properties
// dialog: shown for each address the book is published at, named for assistive
// technology, and put on the clipboard by Copy; with the book's cover on the wizard page.
#include "tests/ui/UiTestKit.h"
#include "ui/CAdvModeTab.h"
#include "ui/CDlgLocalize.h"
#include "ui/COptionDlg.h"
#include "ui/PdfListView.h"
#include "ui/wizard/BookLocations.h"
#include "ui/wizard/CWizardDlg7Success.h"

#include <QApplication>
#include <QClipboard>
#include <QImage>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QToolButton>

namespace fs = std::filesystem;

namespace {

// The code row `name` ("embedService", "embedFtp") of `root`: its code shows the book at
// `address`, the row and its Copy button have localised accessible names, and Copy puts
// exactly the code shown on the clipboard.
void CheckCodeRow(QWidget* root, const char* name, const QString& address)
{
    auto* code = Find<QPlainTextEdit>(root, (std::string(name) + "Code").c_str());
    auto* copy = Find<QPushButton>(root, (std::string(name) + "Copy").c_str());
    QVERIFY2(code->isVisibleTo(root) && copy->isVisibleTo(root), name);
    const QString text = code->toPlainText();
    QVERIFY2(text.startsWith(QStringLiteral("<iframe src=\"") + address + QLatin1Char('"')), qPrintable(text));
    for (const char* part : {"title=\"A &quot;bold&quot; &lt;book&gt;\"", "allowfullscreen", "loading=\"lazy\"",
                             "aspect-ratio:"})
        QVERIFY2(text.contains(QLatin1String(part)), part);
    QVERIFY(!code->accessibleName().isEmpty() && !code->accessibleName().contains(QLatin1String("<#[")));
    QVERIFY(!copy->accessibleName().isEmpty() && !copy->accessibleName().contains(QLatin1String("<#[")));
    QVERIFY(copy->accessibleName() != code->accessibleName());
    QGuiApplication::clipboard()->clear();
    QTest::mouseClick(copy, Qt::LeftButton);
    QCOMPARE(QGuiApplication::clipboard()->text(), text);
    QCOMPARE(Find<QLabel>(root, "embedCopiedLabel")->text(), CDlgLocalize::Lookup("EMBED", "copied"));
}

}  // namespace

class EmbedCodeTest : public QObject {
    Q_OBJECT

private slots:
    void publishedBookShowsItsEmbedCodeOnBothScreens();
};

void EmbedCodeTest::publishedBookShowsItsEmbedCodeOnBothScreens()
{
    UiTestHome home;
    home.UseFakeEngine(3, "0");
    CAdvModeTab page(home.Cfg(), home.Table(), &home.Notices(), nullptr);
    const fs::path pdf = home.Root() / "short.pdf";
    WriteFileBytes(pdf, "%PDF-1.4");
    const std::string key = home.ConvertAndWait(page, pdf);
    QVERIFY(!key.empty());
    AppConfig& cfg = home.Cfg();
    cfg.m_meta_w_ini.WriteWide(key, "title", "A \"bold\" <book>");
    const fs::path cover = fs::path(cfg.m_books_folder) / key / "thumb" / "img-1-e-cover.jpg";
    QImage picture(128, 166, QImage::Format_RGB32);
    picture.fill(Qt::darkCyan);
    QVERIFY(picture.save(QString::fromStdString(cover.string()), "JPG"));

    // Kept on this computer only: the cover, and no code, since no site serves the book.
    CWizardDlg7Success success(cfg, nullptr);
    success.ShowBook(key, LocateBook(cfg, key));
    auto* cover_label = Find<QLabel>(&success, "coverImage");
    QVERIFY(cover_label->isVisibleTo(&success));
    QCOMPARE(cover_label->pixmap().size(), QSize(128, 166));
    QVERIFY(!cover_label->accessibleName().isEmpty() && !cover_label->accessibleName().contains(QLatin1String("<#[")));
    QVERIFY(!Find<QWidget>(&success, "embedCodeBox")->isVisibleTo(&success));

    // Published to both targets: a code for each address the page shows.
    cfg.m_meta_ini.WriteInt(key, "use_ftp", 1);
    cfg.m_meta_ini.WriteText(key, "ftp_webaddr", "https://www.example.org/books");
    cfg.m_meta_ini.WriteInt(key, "use_vazirudu", 1);
    cfg.m_vazirudu_webaddr = "https://books.example.org/vellumark/";
    const BookLocations where = LocateBook(cfg, key);
    success.ShowBook(key, where);
    success.show();
    QVERIFY(Find<QWidget>(&success, "embedCodeBox")->isVisibleTo(&success));
    CheckCodeRow(&success, "embedService", where.service_address);
    CheckCodeRow(&success, "embedFtp", QStringLiteral("https://www.example.org/books/%1/index.html").arg(key.c_str()));

    // Only on the FTP site: the properties dialog shows that code alone.
    cfg.m_meta_ini.WriteInt(key, "use_vazirudu", 0);
    page.ProcessedView()->SelectRows({0});
    emit page.ProcessedView()->Activated();
    bool checked = false;
    QTimer::singleShot(200, [&] {
        auto* dialog = qobject_cast<COptionDlg*>(QApplication::activeModalWidget());
        QVERIFY(dialog);
        QVERIFY(!Find<QWidget>(dialog, "embedServiceCode")->isVisibleTo(dialog));
        CheckCodeRow(dialog, "embedFtp", QStringLiteral("https://www.example.org/books/%1/index.html").arg(key.c_str()));
        checked = true;
        dialog->reject();
    });
    page.CommandButton(CAdvModeTab::kProperties)->click();
    QVERIFY(checked);
}

QTEST_MAIN(EmbedCodeTest)
#include "EmbedCodeTest.moc"
