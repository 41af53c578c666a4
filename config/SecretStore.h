// Where passwords are kept. A program may install a secret store (the desktop's, reached
// through the Secret Service); the enciphered values of IniFile then go there for the
// keys that hold passwords, and the INI file keeps none. Without one, or when the store
// fails, they stay enciphered in the INI file with the program's built-in key, which only
// hides them from a casual look: anyone with the file and the program can read them.
#pragma once

#include <string>

// Names one kept password: the INI file it belongs to (full path), its section and key.
struct SecretName {
    std::string file;
    std::string section;
    std::string key;
};

class SecretStore {
public:
    virtual ~SecretStore() = default;
    // True with `value` when the store keeps a password by that name.
    virtual bool Lookup(const SecretName& name, std::string& value) = 0;
    // Keeps `value` under that name (replacing an earlier one); false when it cannot.
    virtual bool Store(const SecretName& name, const std::string& value) = 0;
    // Forgets the password of that name; true also when there was none.
    virtual bool Forget(const SecretName& name) = 0;
    // Forgets every password of `section` of `file`.
    virtual bool ForgetSection(const std::string& file, const std::string& section) = 0;
};

// Makes `store` (null: none) the process's secret store. The store must outlive its use.
void InstallSecretStore(SecretStore* store);
SecretStore* InstalledSecretStore();

// The INI keys that hold passwords.
inline constexpr const char* kSecretKeys[] = {"ftp_passwd", "http_passwd", "passphrase"};

// True for the INI keys that hold passwords (FTP and account passwords, key-file
// passphrases), the only ones a secret store takes.
bool IsSecretKey(const std::string& key);
