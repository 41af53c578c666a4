// The user guide: every local link and picture of help/index.html exists (in the source
// tree and in the copy the build puts beside the program), every Help button opens that
// copy, and a guide that cannot be found is logged with the shell failure text.
#include "config/DiagLog.h"
#include "tests/ui/UiTestKit.h"
#include "ui/CAdvModeTab.h"
#include "ui/CAdvOptDlg.h"
#include "ui/CMainDlg.h"
#include "ui/CModeTabCtrl.h"

#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <QToolButton>
#include <QUrl>

#include <cstdlib>

namespace fs = std::filesystem;

namespace {

QString GuideIn(const fs::path& folder)
{
    return QString::fromStdString((folder / "help" / "index.html").string());
}

// Checks the links and pictures of one copy of the guide; the number of pictures.
int CheckGuide(const QString& guide_path)
{
    QFile file(guide_path);
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    const QString page = QString::fromUtf8(file.readAll());
    const QDir folder = QFileInfo(guide_path).dir();
    QSet<QString> ids;
    for (const QRegularExpressionMatch& id : QRegularExpression(QStringLiteral("\\sid=\"([^\"]+)\"")).globalMatch(page))
        ids.insert(id.captured(1));
    int pictures = 0;
    const QRegularExpression reference(QStringLiteral("\\s(href|src)=\"([^\"]*)\""));
    for (const QRegularExpressionMatch& match : reference.globalMatch(page)) {
        const QString target = match.captured(2);
        if (target.isEmpty())
            return -1;
        const QUrl url(target);
        if (!url.scheme().isEmpty())
            continue;  // web addresses are not part of the guide
        if (target.startsWith(QLatin1Char('#'))) {
            if (!ids.contains(target.mid(1))) {
                qWarning("missing anchor %s", qPrintable(target));
                return -1;
            }
            continue;
        }
        const QString local = folder.filePath(url.path());
        if (!QFileInfo::exists(local)) {
            qWarning("missing file %s", qPrintable(local));
            return -1;
        }
        if (match.captured(1) == QLatin1String("src"))
            ++pictures;
    }
    return pictures;
}

}  // namespace

class HelpGuideTest : public QObject {
    Q_OBJECT

private slots:
    void everyLinkAndPictureExists();
    void everyHelpButtonOpensTheGuide();
    void aMissingGuideIsLogged();
};

void HelpGuideTest::everyLinkAndPictureExists()
{
    const int in_source = CheckGuide(GuideIn(SourceDir()));
    QVERIFY2(in_source >= 5, qPrintable(QString::number(in_source)));
    QCOMPARE(CheckGuide(GuideIn(ProgramDir())), in_source);
    // Every screenshot in the guide's folder is shown somewhere in it.
    QFile file(GuideIn(SourceDir()));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QString page = QString::fromUtf8(file.readAll());
    const QDir images(QString::fromStdString((SourceDir() / "help" / "images").string()));
    for (const QString& name : images.entryList({QStringLiteral("*.png")}, QDir::Files))
        QVERIFY2(page.contains(QStringLiteral("\"images/") + name + QLatin1Char('"')), qPrintable(name));
}

void HelpGuideTest::everyHelpButtonOpensTheGuide()
{
    UiTestHome home;
    const QString guide = QUrl::fromLocalFile(QString::fromStdString(home.Cfg().LoadedProgramFolder()) +
                                              QStringLiteral("help/index.html"))
                              .toString();
    CMainDlg window(home.Cfg(), home.Table(), home.Notices());
    window.ModeTabs()->AdvancedPage()->CommandButton(CAdvModeTab::kHelp)->click();
    CAdvOptDlg quality(home.Cfg(), nullptr);
    quality.findChild<QPushButton*>(QStringLiteral("helpButton"))->click();
    // Each opens the guide at the section about it.
    QCOMPARE(home.Opened(), (QStringList{guide + QStringLiteral("#advanced"), guide + QStringLiteral("#image-quality")}));
    QVERIFY(home.Prompts().empty());
}

void HelpGuideTest::aMissingGuideIsLogged()
{
    // A program folder with the shipped settings but without the guide.
    TempHome elsewhere;
    const fs::path program = elsewhere.Root() / "program";
    fs::create_directories(program);
    fs::create_directory_symlink(ProgramDir() / "DefaultCfg", program / "DefaultCfg");
    const QByteArray saved = qgetenv("VELLUMARK_PROGRAM_DIR");
    qputenv("VELLUMARK_PROGRAM_DIR", QByteArray::fromStdString(program.string()));
    {
        UiTestHome home;
        QCOMPARE(home.Cfg().LoadedProgramFolder(), program.string() + "/");
        CMainDlg window(home.Cfg(), home.Table(), home.Notices());
        StderrCapture log(home.Root() / "stderr.txt");
        window.ModeTabs()->AdvancedPage()->CommandButton(CAdvModeTab::kHelp)->click();
        const std::string records = log.Stop();
        const std::string expected = std::string(ReportShellFailure(2)) + " (file://" + program.string() +
                                     "/help/index.html#advanced)";
        QVERIFY2(records.find(expected) != std::string::npos, records.c_str());
        QVERIFY(home.Opened().isEmpty());
        QVERIFY(home.Prompts().empty());
    }
    qputenv("VELLUMARK_PROGRAM_DIR", saved);
}

QTEST_MAIN(HelpGuideTest)
#include "HelpGuideTest.moc"
