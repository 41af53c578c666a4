// What every desktop test needs: a private home with a loaded configuration, the job
// table with the real worker, and the prompt hooks answered by the test: message boxes
// are recorded and answered from a queue, choosers return what the test chose, and
// opening with the desktop is recorded instead of done.
#pragma once

#include "config/AppConfig.h"
#include "pipeline/JobTable.h"
#include "tests/helpers/TempHome.h"
#include "ui/JobNoticeBridge.h"
#include "ui/UserPrompts.h"

#include <QStringList>
#include <QWidget>

#include <unistd.h>

#include <cstdio>
#include <deque>
#include <filesystem>
#include <memory>
#include <vector>

class CAdvModeTab;

// The child of `root` with the object name `name`; the test ends at once without one.
template <typename T>
T* Find(QWidget* root, const char* name)
{
    T* widget = root->findChild<T*>(QLatin1String(name));
    if (!widget)
        qFatal("no widget %s", name);
    return widget;
}

// Milliseconds this thread has spent ready to run but waiting for a processor (Linux
// scheduler statistics; 0 where they are not kept): a busy machine's delay, which is not
// the program's.
qint64 QueuedMs();

// Captures what the process writes to standard error (where the diagnostic log goes).
class StderrCapture {
public:
    explicit StderrCapture(const std::filesystem::path& file) : path_(file)
    {
        std::fflush(stderr);
        saved_ = dup(STDERR_FILENO);
        FILE* out = std::fopen(file.c_str(), "w");
        dup2(fileno(out), STDERR_FILENO);
        std::fclose(out);
    }
    ~StderrCapture() { Stop(); }
    std::string Stop()
    {
        if (saved_ >= 0) {
            std::fflush(stderr);
            dup2(saved_, STDERR_FILENO);
            close(saved_);
            saved_ = -1;
        }
        return ReadFileBytes(path_);
    }

private:
    std::filesystem::path path_;
    int saved_ = -1;
};

class UiTestHome {
public:
    UiTestHome();
    ~UiTestHome();

    AppConfig& Cfg() { return *cfg_; }
    JobTable& Table() { return *table_; }
    JobNoticeBridge& Notices() { return notices_; }
    const std::filesystem::path& Root() const { return home_.Root(); }

    // The message boxes shown so far.
    const std::vector<PromptRequest>& Prompts() const { return prompts_; }
    QStringList PromptTexts() const;
    void ClearPrompts() { prompts_.clear(); }
    // The answer to the next message box; without one, OK where offered, else No.
    void AnswerNext(QMessageBox::StandardButton answer) { answers_.push_back(answer); }
    // What the file choosers (PDF, key file) return.
    void ChooseFile(const QString& path) { chosen_file_ = path; }
    void ChooseFolder(const QString& path) { chosen_folder_ = path; }
    // The folder the last file or folder chooser was opened in.
    const QString& ChooserStart() const { return chooser_start_; }
    const QStringList& Opened() const { return opened_; }

    // The stored text of a message box key.
    static QString MessageText(const char* key);

    // A PDF made by the test book generator.
    std::filesystem::path MakePdf(const std::string& name, int pages);
    // Replaces the engine by the scripted stand-in with `pages` pages and a delay per page.
    void UseFakeEngine(int pages, const char* delay_seconds);
    // Converts `pdf` through the page's Convert and upload and waits until its row is in
    // the processed list. The job key, or empty on time-out.
    std::string ConvertAndWait(CAdvModeTab& page, const std::filesystem::path& pdf, int timeout_ms = 60000);

private:
    TempHome home_;
    std::unique_ptr<AppConfig> cfg_;
    JobNoticeBridge notices_;
    std::unique_ptr<JobTable> table_;
    std::vector<PromptRequest> prompts_;
    std::deque<QMessageBox::StandardButton> answers_;
    QString chosen_file_;
    QString chosen_folder_;
    QString chooser_start_;
    QStringList opened_;
};
