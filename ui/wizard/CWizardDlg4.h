// Wizard page 7: confirm and convert. It shows the PDF and its metadata, the convert
// and upload progress as two bars with percentages, and offers New job, View and
// whether the finished book opens by itself. Convert asks the mode tab control to
// start the job (step 8); the mode tab control passes the job's progress in.
#pragma once

#include "ui/wizard/WizardPage.h"

class AppConfig;
class QCheckBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
struct WizardValues;

class CWizardDlg4 : public WizardPage {
    Q_OBJECT

public:
    static constexpr int kBarRange = 50000;

    CWizardDlg4(AppConfig& cfg, WizardValues& values, QWidget* parent);

    // A part of the progress (0..50000) as shown: "%d.%d%%" of twice the part in
    // thousandths, so 25000 is "50.0%" and 50000 "100.0%".
    static QString Percent(int part);

    // Shown for a new visit: the wizard's values, the header and Convert's caption for
    // the publishing mode, bars at 0 and View disabled. `return_code` is Back's page.
    void Prepare(int return_code);
    // The job's progress (0..100000): bars, labels and View follow it.
    void ShowProgress(int progress);
    // The job ended without finishing: the label of the step it ended in says so, with
    // the reason when there is one ("Conversion failed: <reason>"), and that step's bar
    // is hidden. Stays until the next ShowProgress.
    void ShowEnded(bool failed, const QString& reason);
    bool EndedFailed() const { return ended_ && ended_failed_; }
    // Both bars and labels back to 0.
    void ResetProgress();
    // Header text by key of section WIZARD_CONVERT.
    void SetHeader(const char* key);
    // The texts set at run time again from the language file (after it changed).
    void Relocalise();
    // Convert and Back, disabled while the job is being started and running.
    void EnableNavigation(bool on);
    bool Running() const { return running_; }
    void SetRunning(bool on) { running_ = on; }

    void Convert();
    void Back();
    void NewJob();

signals:
    // View: open the finished book.
    void ViewRequested();

private:
    QLineEdit* AddValue(class QGridLayout* grid, int row, const char* label, int id, const char* name);

    AppConfig& cfg_;
    WizardValues& values_;
    int return_code_ = 0;
    bool running_ = false;
    const char* header_key_ = "screen_header2";
    int progress_ = 0;
    bool ended_ = false;
    bool ended_failed_ = false;
    QString ended_reason_;
    QProgressBar* hidden_bar_ = nullptr;  // the bar ShowEnded hid
    bool uploading_ = true;  // false for a book kept on this computer: no upload bar
    void ShowUploadPart();
    QLabel* header_;
    QLineEdit* pdf_;
    QLineEdit* title_;
    QLineEdit* keywords_;
    QLineEdit* description_;
    QCheckBox* auto_open_;
    QLabel* convert_label_;
    QProgressBar* convert_bar_;
    QLabel* upload_label_;
    QProgressBar* upload_bar_;
    QPushButton* view_;
    QPushButton* convert_;
    QPushButton* back_;
};
