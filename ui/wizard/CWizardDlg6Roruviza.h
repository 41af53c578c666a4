// Wizard page 5: publish the book on the web service. The page holds the account and
// the book's classification; Next checks them (the login included), saves them, makes
// the web service the only publishing target and moves on to the convert page.
#pragma once

#include <QWidget>

class AppConfig;
class CBaseNetworkDlg;

class CWizardDlg6Roruviza : public QWidget {
    Q_OBJECT

public:
    CWizardDlg6Roruviza(AppConfig& cfg, QWidget* parent);
    CBaseNetworkDlg* Settings() const { return settings_; }

    void Next();
    void Back();

signals:
    // The mode tab control shows page `step_code`; `return_code` is the page Back on
    // that page leads to.
    void StepRequested(int step_code, int return_code);
    void ExitRequested();
    void HelpRequested();

private:
    AppConfig& cfg_;
    CBaseNetworkDlg* settings_;
};
