// Localisation: the placeholder rules, the line-break rule, repeated localisation, the
// completeness of both shipped language files against every key the program asks for,
// and a language switch that changes every visible text.
#include "publish/ServerIdentity.h"
#include "tests/ui/UiTestKit.h"
#include "ui/CAdvModeTab.h"
#include "ui/CAdvOptDlg.h"
#include "ui/CCfgSkinDlg.h"
#include "ui/CDlgLocalize.h"
#include "ui/CFtpDlg.h"
#include "ui/CMainDlg.h"
#include "ui/CModeTabCtrl.h"
#include "ui/CNetworkDlg.h"
#include "ui/CServerKeyDlg.h"
#include "ui/COptionDlg.h"
#include "ui/DlgNotifier.h"
#include "ui/PdfListView.h"
#include "ui/wizard/WizardPageKit.h"
#include "ui/wizard/CWizardDlg6FTP.h"
#include "ui/wizard/CWizardDlg6Roruviza.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QComboBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QLabel>
#include <QRegularExpression>
#include <QSet>
#include <QTabBar>
#include <QTest>
#include <QUrl>

namespace {

// Writes a language file as the program stores them: UTF-16LE with a byte-order mark.
void WriteLanguageFile(const std::filesystem::path& path, const QString& text)
{
    std::string bytes = "\xFF\xFE";
    for (char16_t unit : text.toStdU16String()) {
        bytes += static_cast<char>(unit & 0xFF);
        bytes += static_cast<char>(unit >> 8);
    }
    WriteFileBytes(path, bytes);
}

// Section and key of every text the widgets of `root` were created with.
void CollectTemplates(QWidget* root, QSet<QString>& keys)
{
    QList<QWidget*> widgets = root->findChildren<QWidget*>();
    widgets.prepend(root);
    for (QWidget* widget : widgets) {
        for (const char* property : {"vmTextTemplate", "vmTitleTemplate", "vmTooltipTemplate", "vmAccessibleTemplate",
                                     "vmDescriptionTemplate", "vmPlaceholderTemplate"}) {
            const Placeholder parsed = CDlgLocalize::Parse(widget->property(property).toString());
            if (parsed.found)
                keys.insert(parsed.section + QLatin1Char(':') + parsed.key);
        }
    }
}

// Calls `visit` with every window and dialog of the program: the main window with every
// wizard page made, each settings dialog and wizard publishing page, the news pop-up and
// the server key question in each of its forms.
template <typename Visit>
void ForEachWindow(UiTestHome& home, Visit visit)
{
    CMainDlg window(home.Cfg(), home.Table(), home.Notices());
    // Every wizard page (each is made when first shown).
    for (int step = 0; step < CModeTabCtrl::kWizardSteps; ++step)
        if (step != kStepStartJob)
            window.ModeTabs()->OnWizardStep(step, 0);
    visit(&window);
    COptionDlg properties(nullptr);
    visit(&properties);
    CAdvOptDlg quality(home.Cfg(), nullptr);
    visit(&quality);
    CCfgSkinDlg toolbar(home.Cfg(), nullptr);
    visit(&toolbar);
    CFtpDlg ftp(home.Cfg(), nullptr);
    visit(&ftp);
    CNetworkDlg network(home.Cfg(), nullptr);
    visit(&network);
    CWizardDlg6FTP ftp_page(home.Cfg(), nullptr);
    visit(&ftp_page);
    CWizardDlg6Roruviza service_page(home.Cfg(), nullptr);
    visit(&service_page);
    DlgNotifier notifier(nullptr);
    visit(&notifier);
    for (const char* expected_from : {"", "the profile", "/home/me/.ssh/known_hosts"}) {
        ServerIdentity identity;
        identity.check = *expected_from ? IdentityCheck::Changed : IdentityCheck::Unknown;
        identity.expected_from = expected_from;
        CServerKeyDlg question(identity, QStringLiteral("ftp.example.org:22"), nullptr);
        visit(&question);
    }
}

// Every text of `root` and its children that a person or an assistive tool meets:
// titles, labels, buttons, group boxes, tabs, list entries, placeholder texts, tooltips,
// and what the accessibility interface reports (name, description, help, value).
QStringList EveryText(QWidget* root)
{
    QList<QWidget*> widgets = root->findChildren<QWidget*>();
    widgets.prepend(root);
    QStringList texts;
    for (QWidget* widget : widgets) {
        texts << widget->windowTitle() << widget->toolTip() << widget->accessibleName()
              << widget->accessibleDescription() << widget->whatsThis();
        if (auto* label = qobject_cast<QLabel*>(widget))
            texts << label->text();
        if (auto* button = qobject_cast<QAbstractButton*>(widget))
            texts << button->text();
        if (auto* group = qobject_cast<QGroupBox*>(widget))
            texts << group->title();
        if (auto* edit = qobject_cast<QLineEdit*>(widget))
            texts << edit->placeholderText();
        if (auto* combo = qobject_cast<QComboBox*>(widget))
            for (int i = 0; i < combo->count(); ++i)
                texts << combo->itemText(i);
        if (auto* bar = qobject_cast<QTabBar*>(widget))
            for (int i = 0; i < bar->count(); ++i)
                texts << bar->tabText(i) << bar->tabToolTip(i);
        if (QAccessibleInterface* node = QAccessible::queryAccessibleInterface(widget))
            for (QAccessible::Text kind : {QAccessible::Name, QAccessible::Description, QAccessible::Help,
                                           QAccessible::Value})
                texts << node->text(kind);
    }
    return texts;
}

// Every visible text of a window and its children.
QStringList VisibleTexts(QWidget* root)
{
    QStringList texts{root->windowTitle()};
    for (QLabel* label : root->findChildren<QLabel*>())
        texts << label->text();
    for (QAbstractButton* button : root->findChildren<QAbstractButton*>())
        texts << button->text();
    for (QTabBar* bar : root->findChildren<QTabBar*>())
        for (int i = 0; i < bar->count(); ++i)
            texts << bar->tabText(i);
    return texts;
}

}  // namespace

class LocalisationTest : public QObject {
    Q_OBJECT

private slots:
    void placeholdersFollowTheRules();
    void lineBreaksOnlyInControls();
    void localisingTwiceGivesTheSameTexts();
    void bothLanguageFilesHoldEveryKeyTheProgramAsksFor();
    void switchingTheLanguageChangesEveryText();
    void noPlaceholderIsLeftInAnyWindow();
};

void LocalisationTest::placeholdersFollowTheRules()
{
    UiTestHome home;
    const Placeholder common = CDlgLocalize::Parse(QStringLiteral("<#[browse]#>"));
    QVERIFY(common.found);
    QCOMPARE(common.section, QStringLiteral("COMMON"));
    QCOMPARE(common.key, QStringLiteral("browse"));
    QCOMPARE(CDlgLocalize::LocaliseText(QStringLiteral("<#[browse]#>")), QStringLiteral("Browse..."));

    const Placeholder sectioned = CDlgLocalize::Parse(QStringLiteral("<#[WIZARD1:selectpdf]#>"));
    QCOMPARE(sectioned.section, QStringLiteral("WIZARD1"));
    QCOMPARE(sectioned.key, QStringLiteral("selectpdf"));

    // Text around the first placeholder is kept; a second placeholder stays as it is.
    QCOMPARE(CDlgLocalize::LocaliseText(QStringLiteral("<#[WIZARD_CONVERT:convert_prg]#> (0.0%): <#[browse]#>")),
             QStringLiteral("Converting (0.0%): <#[browse]#>"));
    // Seven characters are enough for a placeholder; six are not; an unclosed marker stays.
    QCOMPARE(CDlgLocalize::LocaliseText(QStringLiteral("<#[x]#>")), QString());
    QCOMPARE(CDlgLocalize::LocaliseText(QStringLiteral("<#[]#>")), QStringLiteral("<#[]#>"));
    QCOMPARE(CDlgLocalize::LocaliseText(QStringLiteral("a <#[browse")), QStringLiteral("a <#[browse"));
}

void LocalisationTest::lineBreaksOnlyInControls()
{
    UiTestHome home;
    const std::filesystem::path file = home.Root() / "lang_test.ini";
    WriteLanguageFile(file, QStringLiteral("[COMMON]\nbrowse=one\\ntwo\n[MESSAGEBOX]\nselect_pdf=first\\nsecond\n"));
    IniFile language(file.string());
    CDlgLocalize::SetLanguage(&language);
    QLabel label(QStringLiteral("<#[browse]#>"));
    CDlgLocalize::LocaliseWindow(&label);
    QCOMPARE(label.text(), QStringLiteral("one\ntwo"));
    CDlgLocalize::MessageBoxByKey(nullptr, "select_pdf");
    QCOMPARE(home.PromptTexts(), QStringList{QStringLiteral("first\\nsecond")});
    QCOMPARE(home.Prompts().front().caption, QStringLiteral("Vellumark"));
}

void LocalisationTest::localisingTwiceGivesTheSameTexts()
{
    UiTestHome home;
    COptionDlg dialog(nullptr);
    const QStringList once = VisibleTexts(&dialog);
    CDlgLocalize::LocaliseDialog(&dialog);
    QCOMPARE(VisibleTexts(&dialog), once);
    QVERIFY(once.contains(QStringLiteral("Book properties")));
}

void LocalisationTest::bothLanguageFilesHoldEveryKeyTheProgramAsksFor()
{
    UiTestHome home;
    QSet<QString> keys;
    // Texts the widgets are built with.
    ForEachWindow(home, [&keys](QWidget* window) { CollectTemplates(window, keys); });
    for (int id = 290; id <= 294; ++id)
        keys.insert(CDlgLocalize::Parse(CDlgLocalize::StringResource(id)).section + QStringLiteral(":") +
                    CDlgLocalize::Parse(CDlgLocalize::StringResource(id)).key);
    for (int column = 0; column < CPdfItemList::kColumnCount; ++column)
        keys.insert(QStringLiteral("ADVANCED:") + QLatin1String(CPdfItemList::HeaderKey(column)));
    for (int n = 1; n <= 5; ++n)
        keys.insert(QStringLiteral("PROCESS_MSG:process_%1").arg(n));
    for (int n = 1; n <= JOB_RESULT_COUNT; ++n)
        keys.insert(QStringLiteral("PROCESS_MSG:error_%1").arg(n));
    // Texts the code looks up or shows by key.
    const QRegularExpression lookup(QString::fromLatin1(R"re(Lookup\("([A-Z0-9_]+)",\s*"([a-z0-9_]+)"\))re"));
    const QRegularExpression refusal(QString::fromLatin1(R"re(return (?:[a-z_]+ \? nullptr : )?"([a-z_]+)";)re"));
    const QRegularExpression message(QString::fromLatin1(R"re((?:Message|MessageBoxByKey)\((?:this,\s*)?"([a-z0-9_]+)")re"));
    // The desktop program's sources, its publishing settings dialogs among them.
    QStringList paths;
    QDirIterator ui_sources(QString::fromStdString((SourceDir() / "ui").string()), {"*.cpp", "*.h"},
                            QDir::Files, QDirIterator::Subdirectories);
    while (ui_sources.hasNext())
        paths << ui_sources.next();
    int files = 0;
    for (const QString& path : paths) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QString code = QString::fromUtf8(file.readAll());
        ++files;
        for (auto it = lookup.globalMatch(code); it.hasNext();) {
            const auto m = it.next();
            keys.insert(m.captured(1) + QLatin1Char(':') + m.captured(2));
        }
        for (auto it = message.globalMatch(code); it.hasNext();)
            keys.insert(QStringLiteral("MESSAGEBOX:") + it.next().captured(1));
        // The publishing settings' checks return the key of the message they refuse with.
        if (path.endsWith(QStringLiteral("Dlg.cpp")))
            for (auto it = refusal.globalMatch(code); it.hasNext();)
                keys.insert(QStringLiteral("MESSAGEBOX:") + it.next().captured(1));
    }
    QVERIFY(files > 10);
    for (const char* key : {"img_quality1", "img_quality2", "img_quality3"})
        keys.insert(QStringLiteral("IMAGE_QUALITY:") + QLatin1String(key));
    QVERIFY2(keys.size() > 80, qPrintable(QString::number(keys.size())));

    for (const char* name : {"lang_en.ini", "lang_fr.ini"}) {
        IniFile language((SourceDir() / "data/DefaultCfg" / name).string());
        QStringList missing;
        for (const QString& entry : keys) {
            const QString section = entry.section(QLatin1Char(':'), 0, 0);
            const QString key = entry.section(QLatin1Char(':'), 1);
            if (language.ReadWide(section.toStdString(), key.toStdString()).empty())
                missing << entry;
        }
        missing.sort();
        QVERIFY2(missing.isEmpty(), qPrintable(QString::fromLatin1(name) + ": " + missing.join(QStringLiteral(", "))));
    }
}

void LocalisationTest::switchingTheLanguageChangesEveryText()
{
    UiTestHome home;
    CMainDlg window(home.Cfg(), home.Table(), home.Notices());
    window.show();
    // The news pop-up belongs to the window and follows its language too.
    auto* notifier = new DlgNotifier(&window);
    notifier->ShowPage(QUrl(QStringLiteral("http://127.0.0.1/")), QStringLiteral("news"), 300, 200);
    const QStringList english = VisibleTexts(&window);
    QVERIFY(english.contains(QStringLiteral("Advanced")));

    IniFile french((SourceDir() / "data/DefaultCfg/lang_fr.ini").string());
    CDlgLocalize::SetLanguage(&french);
    window.Relocalise();
    const QStringList texts = VisibleTexts(&window);
    QVERIFY(texts.contains(QStringLiteral("Avancé")));
    // Books stay on this computer by default: the button only converts.
    QVERIFY(texts.contains(QStringLiteral("Convertir")));
    QCOMPARE(notifier->windowTitle(), QStringLiteral("Nouvelles de Vellumark"));
    QCOMPARE(notifier->Browser()->accessibleName(), QStringLiteral("Nouvelles de Vellumark"));
    QStringList unchanged;
    for (int i = 0; i < texts.size(); ++i) {
        QVERIFY2(!texts[i].contains(QStringLiteral("<#[")), qPrintable(texts[i]));
        if (texts[i] == english[i])
            unchanged << texts[i];
    }
    // Every text changes except the caption, the "?" buttons, the empty status line and
    // the words both languages share (the pop-up's OK).
    unchanged.sort();
    unchanged.removeAll(QString());
    QVERIFY2(unchanged == QStringList({"?", "?", "?", "OK", "Vellumark 1.3"}), qPrintable(unchanged.join(" | ")));
    const QAbstractItemModel* headers = window.ModeTabs()->AdvancedPage()->QueueView()->model();
    QCOMPARE(headers->headerData(CPdfItemList::kColState, Qt::Horizontal).toString(), QStringLiteral("État"));
}

void LocalisationTest::noPlaceholderIsLeftInAnyWindow()
{
    UiTestHome home;
    IniFile french((SourceDir() / "data/DefaultCfg/lang_fr.ini").string());
    for (const IniFile* language : {&home.Cfg().m_lang_ini, &french}) {
        CDlgLocalize::SetLanguage(language);
        int windows = 0;
        QStringList left;
        ForEachWindow(home, [&](QWidget* window) {
            ++windows;
            for (const QString& text : EveryText(window))
                if (text.contains(QStringLiteral("<#[")))
                    left << window->objectName() + QStringLiteral(": ") + text;
        });
        QVERIFY(windows >= 12);
        QVERIFY2(left.isEmpty(), qPrintable(left.join(QStringLiteral(" | "))));
    }
    CDlgLocalize::SetLanguage(&home.Cfg().m_lang_ini);
    // The service address hint is a text of its own language, not left blank.
    CNetworkDlg network(home.Cfg(), nullptr);
    const QString hint = Find<QLineEdit>(&network, "serviceHostEdit")->placeholderText();
    QVERIFY(!hint.isEmpty());
    QCOMPARE(hint, CDlgLocalize::Lookup("NETWORK_SETTING", "service_host_hint"));
}

QTEST_MAIN(LocalisationTest)
#include "LocalisationTest.moc"
