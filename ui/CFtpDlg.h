// The FTP profiles dialog: the profiles of ftp.ini in a list, the selected one's fields
// (server, port, sub-folder, web address, user, password, passive mode), and Add,
// Delete and Exit. Add and Exit store the fields under the profile key made from the
// server and sub-folder; Delete removes the selected profile.
#pragma once

#include <QDialog>

#include <string>

class AppConfig;
class QCheckBox;
class QLineEdit;
class QSpinBox;
class QTreeWidget;
struct FtpProfile;

class CFtpDlg : public QDialog {
    Q_OBJECT

public:
    // Control ids.
    enum Id {
        kProfileList = 1150, kHost, kPort, kSubdir, kWebaddr, kUser, kPassword, kPassive,
        kDelete = 1160, kAdd, kExit,
    };

    CFtpDlg(AppConfig& cfg, QWidget* parent);

    // The profile key made from the server and sub-folder fields (empty without a server).
    std::string ProfileKey() const;

    void Add();
    void Delete();
    // Stores the shown profile and closes the dialog (accepted).
    void Exit();

private:
    void ShowProfile(const std::string& key);
    FtpProfile Fields() const;
    // Selects the list entry `key`; false when it is not listed.
    bool Select(const std::string& key);

    AppConfig& cfg_;
    QTreeWidget* list_;
    QLineEdit* host_;
    QSpinBox* port_;
    QLineEdit* subdir_;
    QLineEdit* webaddr_;
    QLineEdit* user_;
    QLineEdit* password_;
    QCheckBox* passive_;
};
