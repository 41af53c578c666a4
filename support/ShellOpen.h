// Opens a file, a folder or an address with the desktop's default program.
#pragma once

class QUrl;

// Shell-style result: above 32 on success, else 2 when a local file or folder is missing
// and 31 when no program could be started for it. A failure is logged, never shown.
int OpenWithDesktop(const QUrl& target);
