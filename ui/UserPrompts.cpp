#include "ui/UserPrompts.h"

#include "config/CommonUtil.h"
#include "config/DiagLog.h"
#include "config/Folders.h"
#include "ui/FingerprintLines.h"

#include <QDesktopServices>
#include <QDialog>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QUrl>

namespace {

constexpr int kOpened = 33;
constexpr int kFileNotFound = 2;
constexpr int kNoAssociation = 31;

prompt_hooks::Prompt g_prompt;
prompt_hooks::Chooser g_pdf_chooser;
prompt_hooks::Chooser g_key_chooser;
prompt_hooks::Chooser g_folder_chooser;
prompt_hooks::Opener g_opener;
QString g_last_folder;  // where the user last chose a PDF or a folder

// Where a chooser opens: the folder asked for when it exists, else the folder last
// chosen, else the user's documents folder (else home), never the working folder.
QString StartFolder(const QString& wanted)
{
    for (const QString& folder : {wanted, g_last_folder})
        if (!folder.isEmpty() && QDir::isAbsolutePath(folder) && QFileInfo(folder).isDir())
            return folder;
    const QString documents = QString::fromStdString(folders::DocumentsFolder());
    return QFileInfo(documents).isDir() ? documents : QDir::homePath();
}

QString RememberFolder(const QString& chosen, const QString& folder)
{
    if (!chosen.isEmpty())
        g_last_folder = folder;
    return chosen;
}

// A fingerprint is compared character by character: its line is never wrapped.
void KeepFingerprintsWhole(QMessageBox& box, const QString& text)
{
    const QString html = MessageWithWholeFingerprints(text);
    if (html.isEmpty())
        return;
    box.setTextFormat(Qt::RichText);
    box.setText(html);
}

}  // namespace

QMessageBox::StandardButton ShowPrompt(QWidget* owner, const PromptRequest& request)
{
    if (g_prompt)
        return g_prompt(request);
    QMessageBox box(request.icon, request.caption, request.text, request.buttons, owner);
    KeepFingerprintsWhole(box, request.text);
    if (request.default_button != QMessageBox::NoButton)
        box.setDefaultButton(request.default_button);
    return static_cast<QMessageBox::StandardButton>(box.exec());
}

void ShowNotice(QWidget* owner, const PromptRequest& request)
{
    if (g_prompt) {
        g_prompt(request);
        return;
    }
    auto* box = new QMessageBox(request.icon, request.caption, request.text, request.buttons, owner);
    box->setObjectName(QStringLiteral("noticeBox"));
    KeepFingerprintsWhole(*box, request.text);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}

QMessageBox::StandardButton AskWithDialog(QDialog& dialog, const PromptRequest& as_text)
{
    if (g_prompt)
        return g_prompt(as_text);
    return static_cast<QMessageBox::StandardButton>(dialog.exec());
}

QString ChoosePdfFile(QWidget* owner, const QString& start_folder)
{
    const QString start = StartFolder(start_folder);
    const QString chosen = g_pdf_chooser ? g_pdf_chooser(start)
                                         : QFileDialog::getOpenFileName(owner, QString(), start,
                                                                        QStringLiteral("Adobe PDF Files (*.pdf)"));
    return RememberFolder(chosen, QFileInfo(chosen).absolutePath());
}

QString ChooseKeyFile(QWidget* owner, const QString& start_folder)
{
    if (g_key_chooser)
        return g_key_chooser(start_folder);
    // Key files have no common extension; hidden files are shown so that a key kept
    // under a dot name can be picked too.
    QFileDialog dialog(owner, QString(), start_folder);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setFilter(dialog.filter() | QDir::Hidden);
    return dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty() ? dialog.selectedFiles().front()
                                                                                   : QString();
}

QString ChooseFolder(QWidget* owner, const QString& start_folder)
{
    const QString start = StartFolder(start_folder);
    const QString chosen =
        g_folder_chooser ? g_folder_chooser(start)
                         : QFileDialog::getExistingDirectory(owner, QString(), start,
                                                             QFileDialog::ShowDirsOnly | QFileDialog::DontUseNativeDialog);
    return RememberFolder(chosen, chosen);
}

int OpenWithDesktop(const QUrl& target, const char* module)
{
    int result = kOpened;
    if (target.isLocalFile() && !PathExists(target.toLocalFile().toStdString()))
        result = kFileNotFound;
    else if (!(g_opener ? g_opener(target) : QDesktopServices::openUrl(target)))
        result = kNoAssociation;
    if (result < 32)
        DIAG(module, 0, "%s (%s)", ReportShellFailure(result), target.toString().toUtf8().constData());
    return result;
}

namespace prompt_hooks {
void SetPrompt(Prompt hook) { g_prompt = std::move(hook); }
void SetPdfChooser(Chooser hook) { g_pdf_chooser = std::move(hook); }
void SetKeyFileChooser(Chooser hook) { g_key_chooser = std::move(hook); }
void SetFolderChooser(Chooser hook) { g_folder_chooser = std::move(hook); }
void SetOpener(Opener hook) { g_opener = std::move(hook); }
}  // namespace prompt_hooks
