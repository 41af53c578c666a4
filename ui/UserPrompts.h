// Every question the desktop program asks the user and every file it hands to the
// desktop goes through here: message boxes, the file and folder choosers and opening a
// file, folder or address with the desktop's default program. A test replaces the hooks
// to answer without a modal window and to see what would have been shown or opened.
#pragma once

#include <QMessageBox>
#include <QString>

#include <functional>

class QDialog;
class QUrl;
class QWidget;

struct PromptRequest {
    QMessageBox::Icon icon = QMessageBox::Warning;
    QString caption;
    QString text;
    QMessageBox::StandardButtons buttons = QMessageBox::Ok;
    QMessageBox::StandardButton default_button = QMessageBox::NoButton;
};

// Shows a modal message box (owned by `owner`) and returns the button pressed.
QMessageBox::StandardButton ShowPrompt(QWidget* owner, const PromptRequest& request);
// Shows a message box that only informs (OK alone) without waiting for it to close: it
// opens window-modal over `owner` and deletes itself when closed. The command that
// raised it returns at once, so an assistive tool that pressed the command's button gets
// its answer and can read the box.
void ShowNotice(QWidget* owner, const PromptRequest& request);
// Runs a question dialog of our own (its exec() returns the button pressed); a test's
// prompt hook answers `as_text`, the same question as plain text, instead.
QMessageBox::StandardButton AskWithDialog(QDialog& dialog, const PromptRequest& as_text);
// The file-open dialog for one PDF; empty when cancelled. The PDF and folder choosers
// open in `start_folder` when it is an existing full path, else in the folder last
// chosen, else in the user's documents folder.
QString ChoosePdfFile(QWidget* owner, const QString& start_folder);
// The file-open dialog for an SSH private key (any file); empty when cancelled.
QString ChooseKeyFile(QWidget* owner, const QString& start_folder);
// The folder chooser (with an edit box for typing a path); empty when cancelled.
QString ChooseFolder(QWidget* owner, const QString& start_folder);
// Opens a local file, folder or address. Shell-style result: above 32 on success, 2
// when a local file or folder is missing, 31 when nothing could open it. A failure is
// logged under `module` with the shell failure text and never shown.
int OpenWithDesktop(const QUrl& target, const char* module);

namespace prompt_hooks {
using Prompt = std::function<QMessageBox::StandardButton(const PromptRequest&)>;
using Chooser = std::function<QString(const QString& start_folder)>;
using Opener = std::function<bool(const QUrl&)>;
// Empty hooks restore the real dialogs and the desktop's opener.
void SetPrompt(Prompt hook);
void SetPdfChooser(Chooser hook);
void SetKeyFileChooser(Chooser hook);
void SetFolderChooser(Chooser hook);
void SetOpener(Opener hook);
}  // namespace prompt_hooks
