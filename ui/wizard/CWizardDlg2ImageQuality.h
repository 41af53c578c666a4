// Wizard page 1: the image quality settings, as in the image quality dialog. Next
// stores them (as the dialog's OK does) and moves on to the book's metadata.
#pragma once

#include "ui/wizard/WizardPage.h"

class AppConfig;
class ImageQualityForm;

class CWizardDlg2ImageQuality : public WizardPage {
    Q_OBJECT

public:
    CWizardDlg2ImageQuality(AppConfig& cfg, QWidget* parent);

    void Next();
    void Back();

private:
    ImageQualityForm* form_;
};
