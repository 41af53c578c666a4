#include "config/SecretServiceStore.h"

#include "config/DiagLog.h"

#include <libsecret/secret.h>

#include <cstdlib>
#include <filesystem>

namespace {

constexpr const char* kModule = "SecretStore";

const SecretSchema* PasswordSchema()
{
    static const SecretSchema schema = [] {
        SecretSchema s{};
        s.name = "com.corvane.Vellumark.Password";
        s.flags = SECRET_SCHEMA_NONE;
        s.attributes[0] = {"file", SECRET_SCHEMA_ATTRIBUTE_STRING};
        s.attributes[1] = {"section", SECRET_SCHEMA_ATTRIBUTE_STRING};
        s.attributes[2] = {"key", SECRET_SCHEMA_ATTRIBUTE_STRING};
        return s;
    }();
    return &schema;
}

// Logs a failed call and frees its error; false for the caller to return.
bool Failed(const char* what, GError* error)
{
    DIAG(kModule, 0, "ERR:%s failed: %s", what, error ? error->message : "no reason given");
    if (error)
        g_error_free(error);
    return false;
}

bool SessionBusKnown()
{
    if (const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS"); address && *address)
        return true;
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    std::error_code ec;
    return runtime && *runtime && std::filesystem::exists(std::filesystem::path(runtime) / "bus", ec);
}

}  // namespace

bool SecretServiceStore::Available()
{
    if (!SessionBusKnown())
        return false;
    // A look-up of a name never stored proves that a service answers.
    GError* error = nullptr;
    gchar* found = secret_password_lookup_sync(PasswordSchema(), nullptr, &error, "file", "", "section", "",
                                               "key", "", nullptr);
    if (error)
        return Failed("Secret Service look-up", error);
    secret_password_free(found);
    return true;
}

bool SecretServiceStore::Lookup(const SecretName& name, std::string& value)
{
    GError* error = nullptr;
    gchar* found = secret_password_lookup_sync(PasswordSchema(), nullptr, &error, "file", name.file.c_str(),
                                               "section", name.section.c_str(), "key", name.key.c_str(), nullptr);
    if (error)
        return Failed("secret_password_lookup_sync", error);
    if (!found)
        return false;
    value = found;
    secret_password_free(found);
    return true;
}

bool SecretServiceStore::Store(const SecretName& name, const std::string& value)
{
    const std::string label = "Vellumark: " + name.section + " (" + name.key + ")";
    GError* error = nullptr;
    const gboolean ok = secret_password_store_sync(PasswordSchema(), SECRET_COLLECTION_DEFAULT, label.c_str(),
                                                   value.c_str(), nullptr, &error, "file", name.file.c_str(),
                                                   "section", name.section.c_str(), "key", name.key.c_str(), nullptr);
    return ok ? true : Failed("secret_password_store_sync", error);
}

bool SecretServiceStore::Forget(const SecretName& name)
{
    GError* error = nullptr;
    secret_password_clear_sync(PasswordSchema(), nullptr, &error, "file", name.file.c_str(), "section",
                               name.section.c_str(), "key", name.key.c_str(), nullptr);
    return error ? Failed("secret_password_clear_sync", error) : true;
}

bool SecretServiceStore::ForgetSection(const std::string& file, const std::string& section)
{
    GError* error = nullptr;
    secret_password_clear_sync(PasswordSchema(), nullptr, &error, "file", file.c_str(), "section",
                               section.c_str(), nullptr);
    return error ? Failed("secret_password_clear_sync", error) : true;
}
