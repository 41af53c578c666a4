// What every wizard page asks of the mode tab control: show another page, leave the
// wizard, or open the help.
#pragma once

#include <QWidget>

class WizardPage : public QWidget {
    Q_OBJECT

public:
    using QWidget::QWidget;

signals:
    // The mode tab control shows page `step_code`; `return_code` is the page Back on
    // that page leads to.
    void StepRequested(int step_code, int return_code);
    void ExitRequested();
    void HelpRequested();
};
