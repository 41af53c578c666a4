// The main window: the mode tabs over a one-line status text. It runs the start-up
// checks, reports jobs that ended early, and quits in order: while the reference
// database is being written a quit waits and is retried once a second.
#pragma once

#include "ui/BackgroundChecks.h"
#include "ui/FrameResizer.h"

#include <QMap>
#include <QTimer>
#include <QWidget>

class AppConfig;
class CModeTabCtrl;
class DlgNotifier;
class JobNoticeBridge;
class JobTable;
class QLabel;

class CMainDlg : public QWidget {
    Q_OBJECT

public:
    static constexpr int kStartupDelayMs = 500;
    static constexpr int kQuitRetryMs = 1000;
    // Exit codes of the program: the window was closed or Exit chosen (2), or quit by
    // the command that carries its own code (1210).
    static constexpr int kExitClosed = 2;
    static constexpr int kExitCommand = 1210;

    // `notices` receives the workers' reports; it must outlive the job table's workers.
    CMainDlg(AppConfig& cfg, JobTable& table, JobNoticeBridge& notices, QWidget* parent = nullptr);
    ~CMainDlg() override;

    CModeTabCtrl* ModeTabs() { return tabs_; }
    QLabel* StatusLine() { return status_; }
    QTimer& QuitRetryTimer() { return quit_retry_; }
    // The notifier pop-up; null until the service's notifier asked for it.
    DlgNotifier* Notifier() { return notifier_; }
    FrameResizer& Resizer() { return resizer_; }
    // Texts again from the language file (after it changed).
    void Relocalise();
    // Shows a message in the status line, where screen readers can read it too.
    void SetStatusText(const QString& text);
    // The status line follows the job `key` from now on, starting empty.
    void FollowJob(const QString& key);
    // Quits with `exit_code` unless the reference database is being written; then the
    // quit is retried once a second until it is not. True when it quit now.
    bool RequestQuit(int exit_code);
    // True while a start-up check still waits on the publishing service.
    bool ChecksRunning() const { return background_.Running(); }

signals:
    // The window is done; the program ends with this code.
    void Quit(int exit_code);

protected:
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void LayOut();
    void StartupChecks();
    void RunPluginInstaller();
    void AskForNewVersion();
    void OfferUpgrade();
    void ShowNotifier(const NotifierNotice& notice, const QString& page);
    void RetryQuit();
    void ShowJobIncomplete(int result_code, const QString& key);
    void ShowJobNote(const QString& key, const QString& text);

    AppConfig& cfg_;
    CModeTabCtrl* tabs_;
    QLabel* status_;
    QString followed_job_;
    QTimer startup_timer_;
    QTimer quit_retry_;
    int pending_exit_code_ = kExitClosed;
    bool quitting_ = false;
    QMap<QString, QString> last_notes_;
    DlgNotifier* notifier_ = nullptr;
    FrameResizer resizer_;
    BackgroundChecks background_;
};
