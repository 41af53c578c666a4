// vellumark: the desktop program. One copy at a time works on a books folder (the lock
// is shared with vellumark-batch); the configuration is loaded before any window.
#include "config/AppConfig.h"
#include "config/SecretServiceStore.h"
#include "config/DiagLog.h"
#include "config/DiagSwitchRecord.h"
#include "config/Folders.h"
#include "config/InstanceLock.h"
#include "pipeline/JobTable.h"
#include "pipeline/ProcessPdfThread.h"
#include "ui/CAdvModeTab.h"
#include "ui/CMainDlg.h"
#include "ui/CModeTabCtrl.h"
#include "ui/JobNoticeBridge.h"
#include "ui/QuitSignals.h"
#include "ui/QuitWait.h"
#include "ui/ServiceLinks.h"
#include "ui/StartupLock.h"

#include <QApplication>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    app.setQuitOnLastWindowClosed(false);  // the main window's own quit ends the program
    app.setApplicationName(QStringLiteral("Vellumark"));

    InstanceLock lock;
    const std::string books_folder = AppConfig::LocateBooksFolder();
    if (!TakeProgramLock(lock, books_folder))
        return 0;
    // Diagnostic switches a killed support tool left on go back before they are read.
    diag_switch_record::PutBackUnlessSupportOpen(folders::UserDataFolder() + "/Corvane/Vellumark/config.ini");
    // Passwords go to the desktop's secret store when one runs, else stay in the INI files.
    static SecretServiceStore secrets;
    if (secrets.Available())
        InstallSecretStore(&secrets);
    AppConfig& cfg = TheConfig();
    cfg.Load();
    // A first start may take the books folder from the shipped settings instead.
    InstanceLock loaded_lock;
    if (cfg.m_books_folder != books_folder && !TakeProgramLock(loaded_lock, cfg.m_books_folder))
        return 0;

    // The bridge outlives the table: workers report to it until the table has joined them.
    JobNoticeBridge notices;
    JobTable table([&cfg](PdfJob& job) { return ProcessPdfThread(job, cfg); });
    table.SetThreadLimit(cfg.m_threads_limit);

    CMainDlg window(cfg, table, notices);
    window.ModeTabs()->AdvancedPage()->BuildLists();
    QObject::connect(&window, &CMainDlg::Quit, &app, [](int code) { QApplication::exit(code); });
    QuitOnTermSignals(&window, [&window] { window.RequestQuit(CMainDlg::kExitClosed); });
    window.show();
    const int code = app.exec();
    if (!StopWorkWithin(table, [&window] { return window.ChecksRunning(); }, kQuitWait)) {
        DIAG("MainDlg", 0, "INF:quit while work waits on the network; unfinished jobs resume at the next start");
        std::fflush(nullptr);
        std::_Exit(code);
    }
    return code;
}
