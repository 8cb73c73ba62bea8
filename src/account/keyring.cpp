#include "account/keyring.h"

#include <libsecret/secret.h>

namespace vox {

namespace {

// One item per sender address and server: the same address may move to another provider, and one server
// serves many addresses.
const SecretSchema* Schema() {
    static const SecretSchema schema = {
        "org.voxletter.SendingAccount",
        SECRET_SCHEMA_NONE,
        {
            {"address", SECRET_SCHEMA_ATTRIBUTE_STRING},
            {"server", SECRET_SCHEMA_ATTRIBUTE_STRING},
            {nullptr, SECRET_SCHEMA_ATTRIBUTE_STRING},
        },
        0, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr};
    return &schema;
}

// The service may be missing in two ways: no session bus at all, or a bus on which nothing provides
// org.freedesktop.secrets. Both mean the same to the user.
bool ServiceMissing(const GError* error) {
    if (error->domain == G_DBUS_ERROR) {
        return error->code == G_DBUS_ERROR_SERVICE_UNKNOWN || error->code == G_DBUS_ERROR_NAME_HAS_NO_OWNER ||
               error->code == G_DBUS_ERROR_SPAWN_SERVICE_NOT_FOUND || error->code == G_DBUS_ERROR_NO_SERVER ||
               error->code == G_DBUS_ERROR_FILE_NOT_FOUND || error->code == G_DBUS_ERROR_SPAWN_EXEC_FAILED;
    }
    return error->domain == G_IO_ERROR;  // no address for a session bus, or it refused the connection
}

KeyringResult Outcome(GError* error) {
    KeyringResult result;
    if (error == nullptr) {
        result.ok = true;
        return result;
    }
    result.unavailable = ServiceMissing(error);
    result.error = result.unavailable ? Format(Tr("%s（%s）"), Tr(kNoKeyring), error->message) : error->message;
    g_error_free(error);
    return result;
}

}  // namespace

KeyringResult SecretServiceKeyring::Store(const std::string& address, const SubmissionServer& server,
                                          const std::string& password) {
    GError* error = nullptr;
    const std::string label = "VoxLetter: " + address + " on " + server.Name();
    secret_password_store_sync(Schema(), SECRET_COLLECTION_DEFAULT, label.c_str(), password.c_str(), nullptr,
                               &error, "address", address.c_str(), "server", server.Name().c_str(), nullptr);
    return Outcome(error);
}

KeyringResult SecretServiceKeyring::Lookup(const std::string& address, const SubmissionServer& server,
                                           std::optional<std::string>& password) {
    GError* error = nullptr;
    password.reset();
    gchar* found = secret_password_lookup_sync(Schema(), nullptr, &error, "address", address.c_str(), "server",
                                               server.Name().c_str(), nullptr);
    if (found != nullptr) {
        password = found;
        secret_password_free(found);  // wipes the copy in memory
    }
    return Outcome(error);
}

KeyringResult SecretServiceKeyring::Forget(const std::string& address, const SubmissionServer& server) {
    GError* error = nullptr;
    secret_password_clear_sync(Schema(), nullptr, &error, "address", address.c_str(), "server",
                               server.Name().c_str(), nullptr);
    return Outcome(error);
}

}  // namespace vox
