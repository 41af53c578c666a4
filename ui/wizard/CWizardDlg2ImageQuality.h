// Wizard page 1: the image quality settings, as in the image quality dialog. Next
// stores them (as the dialog's OK does) and moves on to the book's metadata.
#pragma once

#include <QWidget>

class AppConfig;
class ImageQualityForm;

class CWizardDlg2ImageQuality : public QWidget {
    Q_OBJECT

public:
    CWizardDlg2ImageQuality(AppConfig& cfg, QWidget* parent);

    void Next();
    void Back();

signals:
    void StepRequested(int step_code, int return_code);
    void ExitRequested();
    void HelpRequested();

private:
    ImageQualityForm* form_;
};
