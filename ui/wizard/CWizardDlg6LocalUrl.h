// Wizard page 4: keep the book in a folder on this computer. The page holds the folder
// and the book toolbar's own home link; Next makes the local folder the only target,
// checks the folder (before any job exists, so a folder the book cannot go into never
// costs a conversion), stores the toolbar options and moves on to the convert page.
#pragma once

#include "ui/wizard/WizardPage.h"

#include <memory>

class AppConfig;
class ToolbarOptions;
class QLineEdit;
struct WizardValues;

class CWizardDlg6LocalUrl : public WizardPage {
    Q_OBJECT

public:
    CWizardDlg6LocalUrl(AppConfig& cfg, WizardValues& values, QWidget* parent);
    ~CWizardDlg6LocalUrl() override;

    void Next();
    void Back();
    void Browse();

private:
    // True when the book may go into `folder` (created when the user agrees).
    bool AcceptFolder(const QString& folder);
    AppConfig& cfg_;
    WizardValues& values_;
    QLineEdit* folder_;
    std::unique_ptr<ToolbarOptions> toolbar_options_;
};
