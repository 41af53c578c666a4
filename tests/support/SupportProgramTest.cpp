// Runs the real vellumark-support program: a termination signal while it is open puts
// the switches back, a kill leaves a record that the next start of the tool or of the
// desktop program puts back, and a second copy leaves them to the first.
#include "tests/support/SupportTestHome.h"

#include <QProcess>
#include <QTest>

#include <QFileInfo>

#include <csignal>
#include <filesystem>
#include <memory>

class SupportProgramTest : public QObject {
    Q_OBJECT

private slots:
    void init() { home_ = std::make_unique<SupportTestHome>(); }
    void cleanup() { home_.reset(); }

    void signalWhileOpenRestoresTheSwitches_data();
    void signalWhileOpenRestoresTheSwitches();
    void aSecondCopyEndsAtOnceAndLeavesTheSwitchesToTheFirst();
    void killedWhileOpenTheNextStartPutsTheSwitchesBack_data();
    void killedWhileOpenTheNextStartPutsTheSwitchesBack();

private:
    // Starts the program and waits until it has switched both switches on.
    bool StartOpen(QProcess& process)
    {
        const QString program = qEnvironmentVariable("VELLUMARK_SUPPORT_EXE");
        if (program.isEmpty())
            return false;
        process.setProcessEnvironment(QProcessEnvironment::systemEnvironment());  // the test home
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.start(program, {});
        if (!process.waitForStarted(10000))
            return false;
        QDeadlineTimer deadline(15000);
        while (!deadline.hasExpired()) {
            if (home_->Value("log_cmd") == "1")  // written last
                return true;
            QTest::qWait(20);
        }
        return false;
    }

    std::unique_ptr<SupportTestHome> home_;
};

void SupportProgramTest::signalWhileOpenRestoresTheSwitches_data()
{
    QTest::addColumn<int>("signal_number");
    QTest::newRow("SIGTERM") << SIGTERM;
    QTest::newRow("SIGINT") << SIGINT;
    QTest::newRow("SIGHUP") << SIGHUP;
}

void SupportProgramTest::signalWhileOpenRestoresTheSwitches()
{
    QFETCH(int, signal_number);
    home_->WriteConfig("log_err=12\nver=1.3\n");
    QProcess process;
    QVERIFY(StartOpen(process));
    QCOMPARE(home_->Value("log_err"), "1");

    QCOMPARE(::kill(static_cast<pid_t>(process.processId()), signal_number), 0);
    QVERIFY(process.waitForFinished(15000));
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), 128 + signal_number);
    QCOMPARE(home_->Value("log_err"), "12");
    QCOMPARE(home_->Value("log_cmd"), "-1");
    QCOMPARE(home_->Value("ver"), "1.3");
}

void SupportProgramTest::aSecondCopyEndsAtOnceAndLeavesTheSwitchesToTheFirst()
{
    home_->WriteConfig("log_err=0\nlog_cmd=0\n");
    QProcess first;
    QVERIFY(StartOpen(first));

    QProcess second;
    second.setProcessEnvironment(QProcessEnvironment::systemEnvironment());
    second.start(qEnvironmentVariable("VELLUMARK_SUPPORT_EXE"), {});
    QVERIFY(second.waitForFinished(15000));
    QCOMPARE(second.exitCode(), 0);
    QCOMPARE(home_->Value("log_err"), "1");

    first.terminate();
    QVERIFY(first.waitForFinished(15000));
    QCOMPARE(home_->Value("log_err"), "0");
    QCOMPARE(home_->Value("log_cmd"), "0");
}

void SupportProgramTest::killedWhileOpenTheNextStartPutsTheSwitchesBack_data()
{
    QTest::addColumn<bool>("desktop_program");
    QTest::newRow("support tool") << false;
    QTest::newRow("desktop program") << true;
}

void SupportProgramTest::killedWhileOpenTheNextStartPutsTheSwitchesBack()
{
    QFETCH(bool, desktop_program);
    const std::filesystem::path record = home_->DataFolder() / "diag_switches.saved";
    home_->WriteConfig("log_err=12\nlog_cmd=0\n");
    {
        QProcess killed;
        QVERIFY(StartOpen(killed));
        QVERIFY(std::filesystem::exists(record));
        QCOMPARE(::kill(static_cast<pid_t>(killed.processId()), SIGKILL), 0);
        QVERIFY(killed.waitForFinished(15000));
    }
    QCOMPARE(home_->Value("log_err"), "1");

    QProcess next;
    if (desktop_program) {
        const QString program = QFileInfo(qEnvironmentVariable("VELLUMARK_SUPPORT_EXE")).dir().filePath("vellumark");
        if (!QFileInfo(program).isExecutable())
            QSKIP("the desktop program is not built");
        next.setProcessEnvironment(QProcessEnvironment::systemEnvironment());
        next.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        next.start(program, {});
        QVERIFY(next.waitForStarted(10000));
        QDeadlineTimer deadline(20000);
        while (std::filesystem::exists(record) && !deadline.hasExpired())
            QTest::qWait(20);
        QVERIFY(!std::filesystem::exists(record));
        QCOMPARE(home_->Value("log_err"), "12");
        QCOMPARE(home_->Value("log_cmd"), "0");
        next.kill();
        QVERIFY(next.waitForFinished(15000));
        return;
    }
    // The tool keeps the recorded values, not the "1" (or anything else) it finds now.
    home_->WriteConfig("log_err=1\nlog_cmd=5\n");
    QVERIFY(StartOpen(next));
    next.terminate();
    QVERIFY(next.waitForFinished(15000));
    QCOMPARE(home_->Value("log_err"), "12");
    QCOMPARE(home_->Value("log_cmd"), "0");
    QVERIFY(!std::filesystem::exists(record));
}

QTEST_GUILESS_MAIN(SupportProgramTest)
#include "SupportProgramTest.moc"
