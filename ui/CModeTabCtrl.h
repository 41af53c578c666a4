// The two modes of the main window: the wizard (first tab) and the advanced page
// (second tab). Each mode keeps its state while hidden; switching never cancels a job.
// Once a second the queue refresh moves finished jobs to the processed list and starts
// waiting jobs. The wizard's pages are made the first time they are needed and kept;
// the pages ask for the next one by step code, and this control keeps what they
// collected, starts the wizard's job and follows its progress.
#pragma once

#include "ui/wizard/WizardValues.h"

#include <QTabWidget>
#include <QTimer>

#include <array>

class AppConfig;
class CAdvModeTab;
class CWizardDlg4;
class JobObserver;
class JobTable;
class QStackedLayout;

class CModeTabCtrl : public QTabWidget {
    Q_OBJECT

public:
    static constexpr int kQueueRefreshMs = 1000;
    static constexpr int kWizardProgressMs = 1000;
    static constexpr int kWizardSteps = 11;
    enum Tab { kWizardTab = 0, kAdvancedTab = 1 };

    CModeTabCtrl(AppConfig& cfg, JobTable& table, JobObserver* notify, QWidget* parent);

    CAdvModeTab* AdvancedPage() { return advanced_; }
    // The wizard tab's page, which holds the wizard's pages.
    QWidget* WizardPage() { return wizard_; }
    // The wizard page of a step code, when it was made already; else null.
    QWidget* WizardPageAt(int step_code) const;
    int CurrentWizardStep() const { return current_step_; }
    const WizardValues& Values() const { return values_; }
    QTimer& QueueRefreshTimer() { return queue_refresh_; }
    QTimer& WizardProgressTimer() { return wizard_progress_; }
    // Tab captions and page texts again from the language file.
    void Relocalise();

public slots:
    // A wizard page asks for the next step; `return_code` is where Back on the convert
    // page leads (for step 7).
    void OnWizardStep(int step_code, int return_code);

signals:
    // Exit on a wizard page: the main window quits.
    void ExitRequested();
    // The wizard started (or continued) the job `key`; the status line follows it now.
    void JobStarted(const QString& key);

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void OnTabChanged(int index);
    // Makes the page of a step on first use; null for a step without a page.
    QWidget* MakeWizardPage(int step_code);
    template <class Page>
    Page* Adopt(Page* page, int step_code);
    void ShowWizardPage(int step_code);
    // Grows the window when a new page needs more room than it has.
    void MakeRoomForPages();
    void StartWizardJob();
    // Asks for the missing metadata of a book for the web service; false when missing.
    bool MetadataComplete();
    // True when the stored job `key` goes to the targets the settings choose now.
    bool SameTargetsAsSettings(const std::string& key) const;
    void FollowWizardJob();
    void ForgetWizardJob();
    CWizardDlg4* ConvertPage() const;

    AppConfig& cfg_;
    JobTable& table_;
    JobObserver* notify_;
    CAdvModeTab* advanced_;
    QWidget* wizard_;
    QStackedLayout* wizard_stack_;
    std::array<QWidget*, kWizardSteps> wizard_pages_{};
    int current_step_ = 0;
    WizardValues values_;
    QTimer queue_refresh_;
    // Follows the running wizard job.
    QTimer wizard_progress_;
    // The last note about the wizard's job (why it failed, when it did).
    QString wizard_note_;
};
