// Wizard page 0: choose the PDF, by typing its path, Browse or dropping it on the page.
// Next checks that the engine is there and that the engine can read the PDF, takes its
// page size, title, keywords and description into the wizard's values and moves on.
#pragma once

#include <QList>
#include <QUrl>
#include "ui/wizard/WizardPage.h"

class AppConfig;
class QLabel;
class QLineEdit;
struct WizardValues;

class CWizardDlg1 : public WizardPage {
    Q_OBJECT

public:
    CWizardDlg1(AppConfig& cfg, WizardValues& values, QWidget* parent);

    void Next();
    void Browse();
    // Files dropped on the page: the last PDF among them goes into the path field (its
    // name as it is); when there is none, the user is told to choose a PDF.
    void TakeDroppedFiles(const QList<QUrl>& urls);
    // Shows the wizard's PDF path again.
    void Refresh();
    // A line under the header; empty hides it.
    void ShowNote(const QString& text);

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    bool EngineThere(const char* what);

    AppConfig& cfg_;
    WizardValues& values_;
    QLineEdit* pdf_path_;
    QLabel* note_;
};
