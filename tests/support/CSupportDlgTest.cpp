// Drives the real support dialog: the diagnostic switches before, while and after it is
// open, the report path, the commands and what happens with an unusable config.ini.
#include "support/CSupportDlg.h"
#include "support/SupportTexts.h"
#include "tests/support/SupportTestHome.h"

#include <QCheckBox>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QUrl>

#include <memory>
#include <vector>

namespace {

// The control with that numeric id (the dialog template's ids are kept as a property).
template <typename T>
T* Control(QWidget* dialog, int id)
{
    for (T* widget : dialog->findChildren<T*>())
        if (widget->property("control_id").toInt() == id)
            return widget;
    return nullptr;
}

QMessageBox* ShownBox(QWidget* dialog)
{
    QCoreApplication::processEvents();
    for (QMessageBox* box : dialog->findChildren<QMessageBox*>())
        if (box->isVisible())
            return box;
    return nullptr;
}

}  // namespace

class CSupportDlgTest : public QObject {
    Q_OBJECT

private slots:
    void init()
    {
        home_ = std::make_unique<SupportTestHome>();
        opened_.clear();
    }
    void cleanup() { home_.reset(); }

    void switchesAreOnWhileOpenAndRestoredOnEveryExit_data();
    void switchesAreOnWhileOpenAndRestoredOnEveryExit();
    void reportPathFollowsTheBooksFolderRules_data();
    void reportPathFollowsTheBooksFolderRules();
    void missingReportWarnsAndOpensNothing();
    void showsVersionAndOpensContactPageAndConfigFolder();
    void unreadableConfigIsLeftUntouchedWithAnErrorBox();
    void missingDataFolderIsNotCreated();
    void placeholdersFollowTheLanguageFileRules();

private:
    std::unique_ptr<CSupportDlg> MakeDialog()
    {
        return std::make_unique<CSupportDlg>(home_->ConfigPath().string(),
                                             [this](const QUrl& url) {
                                                 opened_.push_back(url);
                                                 return 33;
                                             });
    }

    std::unique_ptr<SupportTestHome> home_;
    std::vector<QUrl> opened_;
};

void CSupportDlgTest::switchesAreOnWhileOpenAndRestoredOnEveryExit_data()
{
    QTest::addColumn<QString>("before");
    QTest::addColumn<QString>("exit");
    QTest::addColumn<QString>("log_err_after");
    QTest::addColumn<QString>("log_cmd_after");

    const char* exits[] = {"exit button", "escape", "window close", "destroyed"};
    for (const char* exit : exits) {
        QTest::addRow("keys missing, %s", exit) << "" << exit << "-1" << "-1";
        QTest::addRow("12 and 0, %s", exit) << "log_err=12\nlog_cmd=0\n" << exit << "12" << "0";
    }
    QTest::addRow("empty values") << "log_err=\nlog_cmd=1\n" << "escape" << "-1" << "1";
    QTest::addRow("both on already") << "log_cmd=1\nlog_err=1\n" << "exit button" << "1" << "1";
}

void CSupportDlgTest::switchesAreOnWhileOpenAndRestoredOnEveryExit()
{
    QFETCH(QString, before);
    QFETCH(QString, exit);
    QFETCH(QString, log_err_after);
    QFETCH(QString, log_cmd_after);
    home_->WriteConfig(before.toStdString() + "ver=1.3\n");

    auto dialog = MakeDialog();
    dialog->show();
    QVERIFY(QTest::qWaitForWindowExposed(dialog.get()));
    QCOMPARE(home_->Value("log_err"), "1");
    QCOMPARE(home_->Value("log_cmd"), "1");
    QVERIFY(Control<QCheckBox>(dialog.get(), 1000)->isChecked());
    QVERIFY(Control<QCheckBox>(dialog.get(), 1001)->isChecked());

    // Unticking a box changes nothing stored.
    QTest::mouseClick(Control<QCheckBox>(dialog.get(), 1001), Qt::LeftButton);
    QCOMPARE(home_->Value("log_err"), "1");

    int finished_with = -1;
    connect(dialog.get(), &QDialog::finished, this, [&](int result) { finished_with = result; });
    if (exit == "exit button")
        QTest::mouseClick(Control<QPushButton>(dialog.get(), 2), Qt::LeftButton);
    else if (exit == "escape")
        QTest::keyClick(dialog.get(), Qt::Key_Escape);
    else if (exit == "window close")
        dialog->close();
    else
        dialog.reset();
    if (dialog)
        QCOMPARE(finished_with, int(QDialog::Rejected));

    QCOMPARE(home_->Value("log_err"), log_err_after);
    QCOMPARE(home_->Value("log_cmd"), log_cmd_after);
    QCOMPARE(home_->Value("ver"), "1.3");

    // Destroying the dialog after it finished writes nothing again.
    home_->WriteConfig("log_err=7\n");
    dialog.reset();
    QCOMPARE(home_->Value("log_err"), "7");
}

void CSupportDlgTest::reportPathFollowsTheBooksFolderRules_data()
{
    QTest::addColumn<QString>("vazirudu_path");
    QTest::addColumn<QString>("books_root");  // "" stands for the documents folder

    QTest::newRow("empty: documents folder") << "" << "";
    QTest::newRow("without trailing slash") << "/srv/books" << "/srv/books";
    QTest::newRow("trailing slash removed once") << "/srv/books/" << "/srv/books";
    QTest::newRow("trailing backslash removed once") << "/srv/books\\" << "/srv/books";
}

void CSupportDlgTest::reportPathFollowsTheBooksFolderRules()
{
    QFETCH(QString, vazirudu_path);
    QFETCH(QString, books_root);
    home_->WriteConfig("vazirudu_path=" + vazirudu_path.toStdString() + "\n");
    const std::string root = books_root.isEmpty() ? home_->Documents().string() : books_root.toStdString();

    auto dialog = MakeDialog();
    QCOMPARE(QString::fromStdString(dialog->ReportPath()), QString::fromStdString(root + "/vAziruduues/report.txt"));
}

void CSupportDlgTest::missingReportWarnsAndOpensNothing()
{
    home_->WriteConfig("");
    auto dialog = MakeDialog();
    dialog->show();
    QVERIFY(QTest::qWaitForWindowExposed(dialog.get()));
    QPushButton* open_report = Control<QPushButton>(dialog.get(), 1002);
    QVERIFY(open_report->isDefault());

    QTest::mouseClick(open_report, Qt::LeftButton);
    QMessageBox* box = ShownBox(dialog.get());
    QVERIFY(box);
    QCOMPARE(box->windowTitle(), "Vellumark");
    QCOMPARE(box->icon(), QMessageBox::Warning);
    QCOMPARE(box->text(), "No status report of Vellumark exists.\n"
                          "Run Vellumark for several minutes to produce the report.");
    QVERIFY(opened_.empty());
    QTest::keyClick(box, Qt::Key_Return);
    QVERIFY(!ShownBox(dialog.get()));
    QCOMPARE(home_->Value("log_err"), "1");  // the warning does not close the tool

    const auto report = home_->Documents() / "vAziruduues/report.txt";
    WriteFileBytes(report, "[errlog]\n");
    QTest::mouseClick(open_report, Qt::LeftButton);
    QVERIFY(!ShownBox(dialog.get()));
    QCOMPARE(opened_.size(), size_t(1));
    QCOMPARE(opened_[0], QUrl::fromLocalFile(QString::fromStdString(report.string())));
}

void CSupportDlgTest::showsVersionAndOpensContactPageAndConfigFolder()
{
    home_->WriteConfig("ver=1.3\nbuildver=-561452569\ncontact_url=http://help.example/ask?a=1&b=%20\n");
    auto dialog = MakeDialog();
    dialog->show();
    QVERIFY(QTest::qWaitForWindowExposed(dialog.get()));

    QCOMPARE(Control<QLabel>(dialog.get(), 1003)->text(), "You are using Vellumark version 1.3 (build -561452569)");
    QCOMPARE(dialog->windowTitle(), "Get technichal support");
    QCOMPARE(Control<QCheckBox>(dialog.get(), 1000)->text(), "Report what &command the engine uses to convert PDFs.");
    QCOMPARE(Control<QPushButton>(dialog.get(), 1005)->text(), "Open configuration &folder");
    QCOMPARE(Control<QPushButton>(dialog.get(), 2)->text(), "E&xit");

    QTest::mouseClick(Control<QPushButton>(dialog.get(), 1004), Qt::LeftButton);
    QTest::mouseClick(Control<QPushButton>(dialog.get(), 1005), Qt::LeftButton);
    QCOMPARE(opened_.size(), size_t(2));
    QCOMPARE(opened_[0].toEncoded(), QByteArray("http://help.example/ask?a=1&b=%20"));
    QCOMPARE(opened_[1], QUrl::fromLocalFile(QString::fromStdString(home_->DataFolder().string() + "/")));

    // Without a contact address the button is off and says where one is set.
    dialog.reset();
    home_->WriteConfig("contact_url=\n");
    dialog = MakeDialog();
    QPushButton* contact = Control<QPushButton>(dialog.get(), 1004);
    QVERIFY(!contact->isEnabled());
    QVERIFY(contact->toolTip().contains(QString::fromStdString(home_->ConfigPath().string())));
}

void CSupportDlgTest::unreadableConfigIsLeftUntouchedWithAnErrorBox()
{
    // A folder where config.ini should be: it cannot be read, whoever runs the test.
    std::filesystem::create_directories(home_->ConfigPath());
    WriteFileBytes(home_->ConfigPath() / "inside", "x");

    auto dialog = MakeDialog();
    dialog->show();
    QVERIFY(QTest::qWaitForWindowExposed(dialog.get()));
    QCOMPARE(dialog->SwitchOutcome(), DiagSwitches::Outcome::kUnreadable);
    QVERIFY(!Control<QCheckBox>(dialog.get(), 1000)->isChecked());
    QVERIFY(!Control<QCheckBox>(dialog.get(), 1001)->isChecked());
    QMessageBox* box = ShownBox(dialog.get());
    QVERIFY(box);
    QVERIFY(box->text().contains(QString::fromStdString(home_->ConfigPath().string())));

    dialog.reset();
    QVERIFY(std::filesystem::is_directory(home_->ConfigPath()));
    QCOMPARE(ReadFileBytes(home_->ConfigPath() / "inside"), std::string("x"));
    const std::ptrdiff_t entries = std::distance(std::filesystem::directory_iterator(home_->DataFolder()),
                                       std::filesystem::directory_iterator());
    QCOMPARE(entries, std::ptrdiff_t(1));  // no temporary file left beside it
}

void CSupportDlgTest::missingDataFolderIsNotCreated()
{
    // Before Vellumark's first run there is nothing to switch on, and creating its data
    // folder would make Vellumark skip copying its defaults.
    auto dialog = MakeDialog();
    QCOMPARE(dialog->SwitchOutcome(), DiagSwitches::Outcome::kUnwritable);
    QVERIFY(ShownBox(dialog.get()));
    dialog.reset();
    QVERIFY(!std::filesystem::exists(home_->DataFolder()));
}

void CSupportDlgTest::placeholdersFollowTheLanguageFileRules()
{
    const auto language = home_->DataFolder() / "lang.ini";
    IniFile file(language.string());
    WriteFileBytes(language, std::string("\xFF\xFE", 2));
    QVERIFY(file.WriteWide("COMMON", "ok", "OK"));
    QVERIFY(file.WriteWide("SUPPORT", "a", "one\\ntwo"));
    SupportTexts texts(language.string());

    QCOMPARE(texts.Localise("<#[ok]#>"), "OK");  // a key alone means COMMON
    QCOMPARE(texts.Localise("x <#[SUPPORT:a]#> <#[ok]#>"), "x one\ntwo <#[ok]#>");
    QCOMPARE(texts.Localise("<#[ok]#"), "<#[ok]#");  // not closed: left as it is
    QCOMPARE(texts.Localise("a <#[SUPPORT:none]#>!"), "a !");
    QCOMPARE(texts.Text("a"), "one\ntwo");
}

QTEST_MAIN(CSupportDlgTest)
#include "CSupportDlgTest.moc"
