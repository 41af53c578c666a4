// Wizard page 3: where the book goes, as four large buttons: a folder on this computer,
// the user's own web site by FTP, the publishing service, and a page about the service.
#pragma once

#include <QWidget>

class CWizardDlg4PubMethod : public QWidget {
    Q_OBJECT

public:
    explicit CWizardDlg4PubMethod(QWidget* parent);

signals:
    void StepRequested(int step_code, int return_code);
    void ExitRequested();
    void HelpRequested();

private:
    void Go(int step_code);
};
