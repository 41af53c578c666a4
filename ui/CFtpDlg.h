// The FTP profiles dialog: the profiles of ftp.ini in a list, the selected one's fields
// (server, protocol, port, sub-folder, web address, user, password, SFTP key file and
// its passphrase, passive mode), and Test, Add, Delete and Exit. Add and Exit store the
// fields under the profile key made from the server and sub-folder; Test stores them
// too and connects once, asking about a server key that nothing vouches for yet; Delete
// removes the selected profile.
#pragma once

#include <QDialog>

#include <string>

class AppConfig;
class QCheckBox;
class QComboBox;
class QFormLayout;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;
class QTreeWidget;
struct FtpProfile;
struct FtpTransport;
enum class FtpProtocol;

class CFtpDlg : public QDialog {
    Q_OBJECT

public:
    // Control ids.
    enum Id {
        kProfileList = 1150, kHost, kPort, kSubdir, kWebaddr, kUser, kPassword, kPassive,
        kDelete = 1160, kAdd, kExit, kProtocol, kKeyFile, kBrowseKeyFile, kPassphrase, kTest,
    };

    CFtpDlg(AppConfig& cfg, QWidget* parent);

    // The profile key made from the server and sub-folder fields (empty without a server).
    std::string ProfileKey() const;

    void Add();
    void Delete();
    // Stores the shown profile and closes the dialog (accepted); input that cannot be
    // stored is refused with a message and keeps the dialog open.
    void Exit();
    // Stores the shown profile, connects to its server once and tells the outcome.
    void Test();

private:
    // After a login: checks that the profile's folder exists and takes new files,
    // offering to make a missing one, and tells the user.
    void TestFolder(const std::string& key);
    void BuildKeyFileRow(QFormLayout* form);
    void ShowProfile(const std::string& key);
    FtpProfile Fields() const;
    FtpTransport TransportFields() const;
    FtpProtocol Protocol() const;
    // SFTP with a key file: the key logs in, with its passphrase, instead of the password.
    bool UsesKeyFile() const;
    void SetProtocol(const FtpTransport& transport);
    // A new protocol brings its usual port along, unless the user chose another port.
    void ProtocolChanged();
    // Enables the fields the protocol and the key file use.
    void UpdateFields();
    void BrowseKeyFile();
    // Checks and stores the fields. False (after a message) when they cannot be stored;
    // `key` is empty when there is no server to store them under.
    bool Store(std::string& key);
    // Selects the list entry `key`; false when it is not listed.
    bool Select(const std::string& key);
    // Lists a stored profile (when new) and selects it.
    void ListAndSelect(const std::string& key);

    AppConfig& cfg_;
    QTreeWidget* list_;
    QLineEdit* host_;
    QComboBox* protocol_;
    QLabel* plain_note_;
    QSpinBox* port_;
    QLineEdit* subdir_;
    QLineEdit* webaddr_;
    QLineEdit* user_;
    QLineEdit* password_;
    QLineEdit* key_file_;
    QPushButton* browse_key_;
    QLineEdit* passphrase_;
    QCheckBox* passive_;
    int shown_protocol_ = 0;
    // The stored protocol name when this program does not know it.
    std::string unknown_protocol_;
};
