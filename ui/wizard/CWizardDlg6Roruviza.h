// Wizard page 5: publish the book on the web service. The page holds the account and
// the book's classification; Next checks them (the login included), saves them, makes
// the web service the only publishing target and moves on to the convert page.
#pragma once

#include "ui/wizard/WizardPage.h"

class AppConfig;
class CBaseNetworkDlg;

class CWizardDlg6Roruviza : public WizardPage {
    Q_OBJECT

public:
    CWizardDlg6Roruviza(AppConfig& cfg, QWidget* parent);
    CBaseNetworkDlg* Settings() const { return settings_; }

    void Next();
    void Back();

private:
    AppConfig& cfg_;
    CBaseNetworkDlg* settings_;
};
