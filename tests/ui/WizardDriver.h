// Drives the wizard tab of a main window the way a user does: finds the current page's
// buttons and fields by their names, drops files on page 0 and waits for pages.
#pragma once

#include "ui/CModeTabCtrl.h"

#include <QList>
#include <QString>
#include <QUrl>

#include <filesystem>

class CMainDlg;
class QLineEdit;
class QPushButton;

class WizardDriver {
public:
    explicit WizardDriver(CMainDlg& window);

    CModeTabCtrl& Tabs() { return *tabs_; }
    int Step() const { return tabs_->CurrentWizardStep(); }
    QWidget* Page() const { return tabs_->WizardPageAt(Step()); }
    // A named child of the current page.
    QPushButton* Button(const char* name) const;
    QLineEdit* Edit(const char* name) const;
    // Clicks a button of the current page; false when the page has no such button or it
    // is hidden or disabled.
    bool Click(const char* name);

    // Drops the files on page 0 (a real drop event).
    void Drop(const QList<std::filesystem::path>& paths);
    // Drops `pdf` on page 0 and presses Next on pages 0, 1, 2: ends on page 3.
    bool ToPublishMethod(const std::filesystem::path& pdf);
    // From page 3 to the convert page through the local folder page with `folder`.
    bool ToConvertWithFolder(const QString& folder);
    // Waits (bounded) for the wizard to reach `step`.
    bool WaitForStep(int step, int timeout_ms);

private:
    CModeTabCtrl* tabs_;
};
