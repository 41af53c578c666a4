// The two modes of the main window: the wizard (first tab) and the advanced page
// (second tab). Each mode keeps its state while hidden; switching never cancels a job.
// Once a second the queue refresh moves finished jobs to the processed list and starts
// waiting jobs.
#pragma once

#include <QTabWidget>
#include <QTimer>

class AppConfig;
class CAdvModeTab;
class JobObserver;
class JobTable;

class CModeTabCtrl : public QTabWidget {
    Q_OBJECT

public:
    static constexpr int kQueueRefreshMs = 1000;
    static constexpr int kWizardProgressMs = 1000;
    enum Tab { kWizardTab = 0, kAdvancedTab = 1 };

    CModeTabCtrl(AppConfig& cfg, JobTable& table, JobObserver* notify, QWidget* parent);

    CAdvModeTab* AdvancedPage() { return advanced_; }
    QWidget* WizardPage() { return wizard_; }
    QTimer& QueueRefreshTimer() { return queue_refresh_; }
    // Tab captions and page texts again from the language file.
    void Relocalise();

public slots:
    // A wizard page asks for the next step (command 302); the wizard pages fill this in.
    void OnWizardStep(int step_code, int return_code);

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void OnTabChanged(int index);

    CAdvModeTab* advanced_;
    QWidget* wizard_;
    QTimer queue_refresh_;
    // Follows the running wizard job; started by the wizard pages.
    QTimer wizard_progress_;
};
