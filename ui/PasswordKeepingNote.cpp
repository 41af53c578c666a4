#include "ui/PasswordKeepingNote.h"

#include "config/SecretStore.h"

#include <QLabel>

QLabel* MakePasswordKeepingNote(QWidget* parent)
{
    const bool in_store = InstalledSecretStore() != nullptr;
    auto* note = new QLabel(in_store ? QStringLiteral("<#[FTP_SETTING:kept_in_secret_store]#>")
                                     : QStringLiteral("<#[FTP_SETTING:kept_in_settings_file]#>"),
                            parent);
    note->setObjectName(QStringLiteral("passwordKeepingNote"));
    note->setWordWrap(true);
    return note;
}
