// The main window's keyboard rule, applied to every key before the control with the
// focus sees it: the arrow keys move the focus between the buttons of one row (the
// command toolbar, the buttons of a page) as in a dialog, wrapping at either end.
// Tab and Shift+Tab keep their usual walk through the controls of the page shown,
// and every other key goes to the control with the focus.
#pragma once

#include <QObject>

class QWidget;

class MainKeyFilter : public QObject {
    Q_OBJECT

public:
    // Filters the keys sent to `window` and its controls while it exists.
    explicit MainKeyFilter(QWidget* window);
    ~MainKeyFilter() override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* window_;
};
