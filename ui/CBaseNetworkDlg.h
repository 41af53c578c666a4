// The publishing settings shared by the publishing settings dialog and the two wizard
// pages that choose a target: the FTP part (profile combo, FTP profiles dialog) and the
// web-service part (account, password, category, subcategory, country, state and city
// from the reference database). It fills the controls from the settings, refills the
// dependent combos, reads the choice back and checks it; the owner saves it.
#pragma once

#include "publish/NetworkSettings.h"

#include <QWidget>

#include <cstdint>
#include <string>
#include <vector>

class AppConfig;
class QCheckBox;
class QComboBox;
class QGridLayout;
class QLabel;
class QLineEdit;
class QPushButton;
struct ClassEntry;

class CBaseNetworkDlg : public QWidget {
    Q_OBJECT

public:
    // Which parts are shown. With only one part its check box is hidden and on: the
    // wizard page itself stands for that target.
    enum Part { kFtpPart = 1, kServicePart = 2, kBothParts = 3 };
    // Control ids.
    enum Id {
        kUseFtp = 1070, kProfileCombo, kConfigureFtp, kToolbarSetup, kUseService, kAccount, kPassword,
        kCategory, kSubcategory, kCountry, kState, kCity, kCreateAccount,
        kFtpHelp = 293, kServiceHelp = 294,
    };

    CBaseNetworkDlg(AppConfig& cfg, int parts, QWidget* parent);

    // The choice as the controls hold it.
    NetworkChoice Choice() const;
    // The message key of the first reason to refuse `choice`, or null when it may be
    // saved. Runs the login test against the service as the last check.
    const char* Refusal(const NetworkChoice& choice) const;
    // Reads and checks the choice; a refusal is shown in a message box owned by `owner`.
    // An FTP server reached over TLS or SFTP is then connected to once: a key that
    // nothing vouches for yet is put to the user, and a failed login asks whether to keep
    // the choice all the same.
    bool Validate(QWidget* owner, NetworkChoice& choice) const;
    // The publishing service's address as typed (the stored one without the service
    // part); empty means no service.
    std::string ServiceHost() const;
    // Saves the typed address in config.ini (the keys the batch command's --service-host
    // writes) and the settings; call after a successful Validate. False when it cannot
    // be written.
    bool StoreServiceHost() const;

    // Makes Validate also check that the chosen profile's folder exists and takes new
    // files (a missing one is made when the user agrees); the wizard page, whose Next
    // leads straight to the upload, asks for it.
    void CheckFolderOnValidate() { check_folder_ = true; }

    // Fills the profile combo from ftp.ini and selects `key` (the first entry when absent).
    void FillProfiles(const std::string& key);
    // Opens the FTP profiles dialog; afterwards the combo shows the profile last edited.
    void ConfigureFtp();

private:
    void BuildFtpPart(QGridLayout* grid, int& row, bool with_check);
    void BuildServicePart(QGridLayout* grid, int& row, bool with_check);
    // Shows how the chosen profile reaches its server (plain FTP: unencrypted).
    void ShowTransport();
    bool ServerAccepted(QWidget* owner, const std::string& profile) const;
    // The folder check; when it fails, a line under the profile says why.
    bool FolderAccepted(QWidget* owner, const std::string& profile) const;
    // Asks whether to keep a profile whose server could not be logged in to.
    static bool KeepAfterFailedLogin(QWidget* owner, const QString& server, const QString& reason);
    // The message key of the reason the service address `host` is refused; null when
    // it can be used.
    static const char* HostRefusal(const std::string& host);
    // Shows under the address why it is refused, or that it is reached unencrypted.
    void ShowHostNote();
    QComboBox* AddCombo(QGridLayout* grid, int row, int column, const char* key, int id, const char* name);
    void FillCountries();
    void FillCategories();
    // Refills after a change of the parent combo; the entry with `wanted` id is selected
    // (the first when none has it).
    void RefillSubcategories(int32_t wanted);
    void RefillStates(int32_t wanted_state, int32_t wanted_city);
    void RefillCities(int32_t wanted);
    static void Fill(QComboBox* combo, const std::vector<ClassEntry>& rows, int32_t wanted);
    static void Placeholder(QComboBox* combo, const char* key);

    AppConfig& cfg_;
    int parts_;
    QCheckBox* use_ftp_ = nullptr;
    QComboBox* profiles_ = nullptr;
    // One note per protocol, in FtpProtocol order; only the chosen profile's is shown.
    QLabel* transport_notes_[3] = {};
    QLabel* declined_note_ = nullptr;
    QLabel* folder_note_ = nullptr;
    bool check_folder_ = false;
    QCheckBox* use_service_ = nullptr;
    QLineEdit* host_ = nullptr;
    QLabel* host_note_ = nullptr;
    QLineEdit* account_ = nullptr;
    QLineEdit* password_ = nullptr;
    QComboBox* category_ = nullptr;
    QComboBox* subcategory_ = nullptr;
    QComboBox* country_ = nullptr;
    QComboBox* state_ = nullptr;
    QComboBox* city_ = nullptr;
};
