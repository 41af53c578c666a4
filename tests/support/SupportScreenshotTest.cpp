// Shows the support dialog on a real X server with real fonts, checks that no text is
// cut off and keeps a screenshot as a test artefact (support-dialog.png).
#include "support/CSupportDlg.h"
#include "tests/support/SupportTestHome.h"

#include <QAbstractButton>
#include <QDir>
#include <QFontInfo>
#include <QLabel>
#include <QPixmap>
#include <QScreen>
#include <QSet>
#include <QTest>
#include <QUrl>

class SupportScreenshotTest : public QObject {
    Q_OBJECT

private slots:
    void dialogShowsEveryTextWhole();
};

void SupportScreenshotTest::dialogShowsEveryTextWhole()
{
    SupportTestHome home;
    home.WriteConfig("ver=1.3\nbuildver=-561452569\n");
    CSupportDlg dialog(home.ConfigPath().string(), [](const QUrl&) { return 33; });
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QTest::qWait(300);  // let the X server finish painting
    qInfo("font: %s", qPrintable(QFontInfo(dialog.font()).family()));

    QList<QWidget*> texts;
    for (QLabel* label : dialog.findChildren<QLabel*>())
        texts.append(label);
    for (QAbstractButton* button : dialog.findChildren<QAbstractButton*>())
        texts.append(button);
    QCOMPARE(texts.size(), 10);
    for (QWidget* widget : texts) {
        const QString name = widget->objectName();
        const QRect in_dialog(widget->mapTo(&dialog, QPoint(0, 0)), widget->size());
        QVERIFY2(widget->isVisible(), qPrintable(name));
        QVERIFY2(dialog.rect().contains(in_dialog), qPrintable(name));
        QVERIFY2(widget->width() >= widget->sizeHint().width(), qPrintable(name));
        QVERIFY2(widget->height() >= widget->sizeHint().height(), qPrintable(name));
    }
    QVERIFY(dialog.screen()->availableGeometry().contains(dialog.frameGeometry()));

    const QPixmap shot = dialog.screen()->grabWindow(dialog.winId());
    QCOMPARE(shot.deviceIndependentSize().toSize(), dialog.size());
    // Text drawn with an antialiased font leaves many shades; a blank grab has one.
    const QImage image = shot.toImage();
    QSet<QRgb> colours;
    for (int y = 0; y < image.height(); y += 2)
        for (int x = 0; x < image.width(); x += 2)
            colours.insert(image.pixel(x, y));
    QVERIFY(colours.size() > 8);

    const QString folder = qEnvironmentVariable("VELLUMARK_ARTEFACT_DIR", QDir::currentPath());
    QVERIFY(QDir().mkpath(folder));
    const QString path = folder + "/support-dialog.png";
    QVERIFY(shot.save(path));
    qInfo("screenshot: %s", qPrintable(path));
}

QTEST_MAIN(SupportScreenshotTest)
#include "SupportScreenshotTest.moc"
