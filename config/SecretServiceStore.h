// The desktop's secret store (GNOME Keyring, KDE Wallet and others that provide the
// Secret Service on the session bus), reached through libsecret. Passwords are kept in
// the default collection, each named by its INI file, section and key.
#pragma once

#include "config/SecretStore.h"

class SecretServiceStore : public SecretStore {
public:
    // True when a Secret Service answers on the session bus. Without a session bus it
    // answers false at once (nothing is started to find one).
    bool Available();

    bool Lookup(const SecretName& name, std::string& value) override;
    bool Store(const SecretName& name, const std::string& value) override;
    bool Forget(const SecretName& name) override;
    bool ForgetSection(const std::string& file, const std::string& section) override;
};
