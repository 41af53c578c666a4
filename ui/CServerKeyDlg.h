// The question put to the user when an FTP server (over TLS or SFTP) shows a key that
// nothing vouches for yet, or a key other than the one expected: a plain explanation and
// the fingerprints, ready to be compared with what the server's administrator gives.
// exec() returns QMessageBox::Yes when the user trusts the key shown now, else
// QMessageBox::No. The answer defaults to No. A key that the user's known_hosts file
// contradicts cannot be accepted here (SSH itself would refuse it); the dialog only
// explains how to remove the old key.
#pragma once

#include "ui/UserPrompts.h"

#include <QDialog>

struct ServerIdentity;
class QGridLayout;
class QLabel;

class CServerKeyDlg : public QDialog {
    Q_OBJECT

public:
    enum Kind {
        kUnknown,      // first connection: nothing vouches for the key
        kChanged,      // not the key the user accepted before
        kHostsDiffer,  // known_hosts holds another key for the server
    };

    CServerKeyDlg(const ServerIdentity& identity, const QString& server, QWidget* parent);

    Kind Question() const { return kind_; }
    // The same question as plain text, with its buttons and default answer.
    PromptRequest AsPrompt() const;

private:
    void AddFingerprint(QGridLayout* grid, int row, const QString& caption, const QString& value,
                        const char* name);

    Kind kind_;
    QLabel* heading_ = nullptr;
    QLabel* explanation_ = nullptr;
};

// Asks about the key of `server` (a test's prompt hook answers AsPrompt() instead).
QMessageBox::StandardButton AskAboutServerKey(QWidget* owner, const ServerIdentity& identity, const QString& server);
