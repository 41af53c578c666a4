#include "ui/StartupLock.h"

#include "config/DiagLog.h"
#include "config/InstanceLock.h"
#include "ui/UserPrompts.h"

bool TakeProgramLock(InstanceLock& lock, const std::string& books_folder)
{
    std::string error;
    if (lock.TryAcquire(books_folder, error))
        return true;
    if (!error.empty()) {
        DIAG("MainDlg", 0, "ERR:%s", error.c_str());
        return true;
    }
    PromptRequest request;
    request.icon = QMessageBox::Information;
    request.caption = QStringLiteral("Hint");
    request.text = QStringLiteral("The program already started.");
    ShowPrompt(nullptr, request);
    return false;
}
