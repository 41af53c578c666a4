#include "config/SecretStore.h"

#include <atomic>

namespace {
std::atomic<SecretStore*> g_store{nullptr};
}  // namespace

void InstallSecretStore(SecretStore* store)
{
    g_store = store;
}

SecretStore* InstalledSecretStore()
{
    return g_store;
}

bool IsSecretKey(const std::string& key)
{
    for (const char* secret : kSecretKeys)
        if (key == secret)
            return true;
    return false;
}
