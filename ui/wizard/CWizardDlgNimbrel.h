// Wizard page 10: a page about the publishing service, with a button that opens its
// web site. Back returns to the choice of where the book goes.
#pragma once

#include "ui/wizard/WizardPage.h"

class AppConfig;

class CWizardDlgNimbrel : public WizardPage {
    Q_OBJECT

public:
    CWizardDlgNimbrel(AppConfig& cfg, QWidget* parent);
};
