// The support dialog. While it is open the main program's diagnostic switches are on;
// it shows the installed version and build and opens the status report, the contact page
// and the configuration folder. The switches are put back when the dialog finishes or is
// destroyed, whichever comes first.
#pragma once

#include "support/DiagSwitches.h"
#include "support/SupportTexts.h"

#include <QDialog>

#include <functional>
#include <memory>
#include <string>

class QUrl;

namespace Ui {
class SupportDlg;
}

class CSupportDlg : public QDialog {
    Q_OBJECT

public:
    // Opens a local file, folder or address; returns a shell-style result code.
    using Opener = std::function<int(const QUrl&)>;

    explicit CSupportDlg(const std::string& config_path, Opener opener, QWidget* parent = nullptr);
    ~CSupportDlg() override;

    // Puts the switches back as they were; harmless when already done.
    void RestoreSwitches();

    DiagSwitches::Outcome SwitchOutcome() const { return switch_outcome_; }
    const std::string& ReportPath() const { return report_path_; }

private:
    void ShowVersion();
    void OpenReport();
    void OpenContactPage();
    void OpenConfigFolder();
    // A warning box that does not block the event loop, so a termination signal is still
    // handled while it is shown.
    void ShowWarning(const QString& text);

    std::unique_ptr<Ui::SupportDlg> ui_;
    IniFile config_;
    DiagSwitches switches_;
    DiagSwitches::Outcome switch_outcome_;
    SupportTexts texts_;
    std::string report_path_;
    Opener opener_;
};
