// Wizard page 3: where the book goes, as four large buttons: a folder on this computer,
// the user's own web site by FTP, the publishing service, and a page about the service.
#pragma once

#include "ui/wizard/WizardPage.h"

class AppConfig;

class CWizardDlg4PubMethod : public WizardPage {
    Q_OBJECT

public:
    CWizardDlg4PubMethod(const AppConfig& cfg, QWidget* parent);

private:
    void Go(int step_code);
};
