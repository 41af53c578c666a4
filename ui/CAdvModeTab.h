// The advanced page: pick a PDF, enter its title, keywords and description, queue its
// conversion, and manage the jobs in the queue list and the processed list with a
// toolbar of ten commands. A processed book can also be updated with a new PDF or
// published afterwards (buttons under the processed list and its context menu). Every
// command checks the selection itself and tells the user when there is nothing to work
// on; no command is ever disabled.
#pragma once

#include "pipeline/PdfItemList.h"

#include <QTimer>
#include <QWidget>

#include <cstdint>
#include <string>
#include <vector>

class AppConfig;
class CPdfListView;
class JobObserver;
class JobTable;
class QLabel;
class QLineEdit;
class QPushButton;
class QToolButton;
class QUrl;

class CAdvModeTab : public QWidget {
    Q_OBJECT

public:
    // Command ids of the toolbar, in the order of its buttons, then of the two commands
    // on a processed book.
    enum Command {
        kRestart = 1201, kStop, kResume, kProperties, kPreview, kDirectory, kDelete, kExport, kHelp, kExit,
        kUpdateBook, kPublishBook,
    };

    CAdvModeTab(AppConfig& cfg, JobTable& table, JobObserver* notify, QWidget* parent);
    ~CAdvModeTab() override;

    // Fills both lists from the stored jobs.
    void BuildLists();
    // Texts of the page again from the language file (after it changed).
    void Relocalise();
    // "Upload to": where finished books go with the current publishing settings.
    void RefreshUploadLabel();
    // Once a second: rows follow their jobs, finished jobs move to the processed list,
    // waiting jobs start on free workers.
    void RefreshQueue();

    CPdfItemList& QueueList() { return queue_; }
    CPdfItemList& ProcessedList() { return processed_; }
    CPdfListView* QueueView() { return queue_view_; }
    CPdfListView* ProcessedView() { return processed_view_; }
    // True when the commands on one book act on the processed list's selection, false
    // for the queue list's.
    bool ProcessedListActive() const;
    QToolButton* CommandButton(int command) const;
    // The button of kUpdateBook or kPublishBook.
    QPushButton* BookCommandButton(int command) const;
    // Files dropped on the page: the last PDF among them goes into the path field.
    void TakeDroppedFiles(const QList<QUrl>& urls);

    // The commands.
    void RunCommand(int command);
    void Browse();
    void ConvertAndUpload();
    void Restart();
    void Stop();
    void Resume();
    void Properties();
    void Preview();
    void Directory();
    void Delete();
    void Export();
    void Help();
    // Converts a new PDF (chosen in a file dialog) into the selected processed book under
    // its own key, settings and targets, and runs the job as a restarted one.
    void UpdateBook();
    // Publishes the selected processed book to the targets set now, without converting
    // it again.
    void PublishBook();
    // Continues the job of book `key` when its upload did not finish and it is not
    // running: the same key, from where the upload ended. False when it cannot.
    bool ContinueUnfinishedUpload(const std::string& key);

signals:
    // Exit on the toolbar: the main window quits.
    void ExitRequested();
    // A line for the main window's status line.
    void StatusText(const QString& text);
    // A job was started (or continued) from this page; the status line follows it now.
    void JobStarted(const QString& key);

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void BuildControls();
    QWidget* BuildToolbar();
    QWidget* BuildBookCommands();
    void ShowProcessedMenu(const QPoint& at);
    // The selected book for Update or Publish, when it may take one: a processed book
    // (or, for an update, a book whose update did not end; for Publish, a book whose
    // upload did not finish) whose job is not running.
    // Empty after telling the user why not.
    std::string BookForCommand(bool update);
    // True for a book made for the web whose conversion finished but whose upload did
    // not: Publish... continues that same job.
    bool UploadUnfinished(const std::string& key) const;
    // Launches the job that a book command prepared, from its stored progress, and shows
    // its row in the queue list until it is finished again.
    void LaunchPreparedBook(const std::string& key);
    // A refusal of a book command: a message box and the status line.
    void BookCommandError(const QString& text);
    void LoadListTexts();
    // Relaunches, from nothing, the restarted jobs whose slots are free again; the others
    // wait for the next look.
    void RestartStoppedJobs();
    // The job key of the first selected row of the active list; empty when none.
    std::string SelectedKey();
    // Asks the selected running jobs of both lists to stop; false when neither list
    // has a selection. `stopped` receives the slots asked.
    bool StopSelected(std::vector<int>* stopped);
    bool IsSlotBusy(const std::string& key) const;
    void Message(const char* key);

    AppConfig& cfg_;
    JobTable& table_;
    JobObserver* notify_;
    CPdfItemList queue_{false};
    CPdfItemList processed_{true};
    bool processed_active_ = false;
    // Jobs asked to restart whose jobs are still stopping (keys), and the timer that looks
    // for them to have stopped; the window thread never waits for a job.
    std::vector<std::string> pending_restarts_;
    QTimer restart_timer_;
    int32_t page_count_ = 0;
    int32_t page_width_ = 0;
    int32_t page_height_ = 0;

    QLineEdit* pdf_path_ = nullptr;
    QLineEdit* title_ = nullptr;
    QLineEdit* keywords_ = nullptr;
    QLineEdit* description_ = nullptr;
    QLabel* upload_label_ = nullptr;
    QPushButton* convert_button_ = nullptr;
    CPdfListView* queue_view_ = nullptr;
    CPdfListView* processed_view_ = nullptr;
    QWidget* toolbar_ = nullptr;
    QWidget* book_commands_ = nullptr;
};
