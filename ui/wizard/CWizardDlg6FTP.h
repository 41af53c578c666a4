// Wizard page 6: publish the book to the user's own server by FTP. The page holds the
// FTP profile and the book toolbar's own home link; Next checks the profile and its
// folder on the server, saves the choice and the toolbar options, makes FTP the only
// publishing target and moves on to the convert page.
#pragma once

#include "ui/wizard/WizardPage.h"

#include <memory>

class AppConfig;
class CBaseNetworkDlg;
class ToolbarOptions;

class CWizardDlg6FTP : public WizardPage {
    Q_OBJECT

public:
    CWizardDlg6FTP(AppConfig& cfg, QWidget* parent);
    ~CWizardDlg6FTP() override;
    CBaseNetworkDlg* Settings() const { return settings_; }

    void Next();
    void Back();

private:
    AppConfig& cfg_;
    CBaseNetworkDlg* settings_;
    std::unique_ptr<ToolbarOptions> toolbar_options_;
};
