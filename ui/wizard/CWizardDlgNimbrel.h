// Wizard page 10: a page about the publishing service, with a button that opens its
// web site. Back returns to the choice of where the book goes.
#pragma once

#include <QWidget>

class AppConfig;

class CWizardDlgNimbrel : public QWidget {
    Q_OBJECT

public:
    CWizardDlgNimbrel(AppConfig& cfg, QWidget* parent);

signals:
    void StepRequested(int step_code, int return_code);
    void ExitRequested();
    void HelpRequested();
};
