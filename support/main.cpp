// vellumark-support: the small program a user opens when asking for help. While it is
// open the main program records its diagnostics; whichever way it closes (Exit, Escape,
// the window's close button, SIGTERM, SIGINT, SIGHUP) the switches are put back.
#include "config/DiagLog.h"
#include "config/InstanceLock.h"
#include "support/CSupportDlg.h"
#include "support/ShellOpen.h"
#include "support/SignalBridge.h"
#include "support/SupportPaths.h"

#include <QApplication>

#include <csignal>
#include <filesystem>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    app.setQuitOnLastWindowClosed(false);  // the dialog's own result ends the program

    // A second copy would save the first one's "1" values and put them back on closing,
    // leaving recording on; it ends at once instead. A lock that cannot be taken for
    // another reason does not stop the tool.
    // Its lock lives beside the configuration it changes.
    InstanceLock lock("vellumark-support");
    std::string error;
    const std::string config_folder = std::filesystem::path(support_paths::ConfigFilePath()).parent_path().string();
    if (!lock.TryAcquire(config_folder, error) && error.empty()) {
        DIAG("Support", 0, "INF:the support tool is already open");
        return 0;
    }
    if (!error.empty())
        DIAG("Support", 0, "ERR:%s", error.c_str());

    SignalBridge bridge;
    bridge.Install({SIGTERM, SIGINT, SIGHUP});

    CSupportDlg dialog(support_paths::ConfigFilePath(), OpenWithDesktop);
    QObject::connect(&dialog, &QDialog::finished, &app, [](int result) {
        QApplication::exit(result == QDialog::Accepted ? 1 : 2);
    });
    QObject::connect(&bridge, &SignalBridge::Caught, &app, [&dialog](int signal_number) {
        dialog.RestoreSwitches();
        QApplication::exit(128 + signal_number);
    });
    dialog.show();
    return app.exec();
}
