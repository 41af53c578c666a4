// Wizard page 2: the book's title, keywords and description. Each time it is shown it
// shows the wizard's values (at first those found in the PDF); Next takes the edits
// back into them.
#pragma once

#include "ui/wizard/WizardPage.h"

class QLineEdit;
struct WizardValues;

class CWizardDlg2 : public WizardPage {
    Q_OBJECT

public:
    CWizardDlg2(WizardValues& values, QWidget* parent);

    // The edits from the wizard's values.
    void Refresh();
    void Next();
    void Back();

protected:
    void showEvent(QShowEvent* event) override;

private:
    WizardValues& values_;
    QLineEdit* title_ = nullptr;
    QLineEdit* keywords_ = nullptr;
    QLineEdit* description_ = nullptr;
};
