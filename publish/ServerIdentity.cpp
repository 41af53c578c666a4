#include "publish/ServerIdentity.h"

#include <openssl/evp.h>
#include <openssl/sha.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>

#include <cctype>
#include <cstdlib>
#include <vector>

namespace {

constexpr const char* kPrefix = "SHA256:";
constexpr size_t kDigestChars = 43;  // base64 of 32 bytes without its one '='

std::string Base64(const unsigned char* data, size_t size) {
    std::string out(4 * ((size + 2) / 3), '\0');
    const int written = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()), data, static_cast<int>(size));
    out.resize(written > 0 ? static_cast<size_t>(written) : 0);
    return out;
}

// A fingerprint as the log names it: the kind of key after it, as ssh-keygen -l prints it.
std::string LoggedFingerprint(const std::string& key_type, const std::string& fingerprint) {
    return key_type.empty() || fingerprint.empty() ? fingerprint : fingerprint + " (" + key_type + ")";
}

std::vector<unsigned char> Unbase64(const std::string& text) {
    std::vector<unsigned char> out(3 * (text.size() / 4) + 3);
    const int written = EVP_DecodeBlock(out.data(), reinterpret_cast<const unsigned char*>(text.data()),
                                        static_cast<int>(text.size()));
    if (written < 0) return {};
    out.resize(static_cast<size_t>(written));
    // EVP_DecodeBlock keeps the zero bytes that stand for the padding.
    for (size_t i = text.size(); i > 0 && text[i - 1] == '='; --i)
        if (!out.empty()) out.pop_back();
    return out;
}

// The fingerprint of a key libcurl hands over: raw bytes, or base64 when `len` is 0.
std::string FingerprintOfKey(const curl_khkey* key) {
    if (!key || !key->key) return {};
    if (key->len > 0) return FingerprintOf(reinterpret_cast<const unsigned char*>(key->key), key->len);
    const std::vector<unsigned char> raw = Unbase64(key->key);
    return raw.empty() ? std::string() : FingerprintOf(raw.data(), raw.size());
}

// The kind of an SSH host key as OpenSSH names it.
std::string SshKeyType(const curl_khkey* key) {
    if (!key) return {};
    switch (key->keytype) {
        case CURLKHTYPE_RSA1:
        case CURLKHTYPE_RSA: return "RSA";
        case CURLKHTYPE_DSS: return "DSA";
        case CURLKHTYPE_ECDSA: return "ECDSA";
        case CURLKHTYPE_ED25519: return "ED25519";
        default: return {};
    }
}

// The kind of a certificate's public key, named as for SSH keys.
std::string CertificateKeyType(X509* certificate) {
    switch (EVP_PKEY_get_base_id(X509_get0_pubkey(certificate))) {
        case EVP_PKEY_RSA:
        case EVP_PKEY_RSA_PSS: return "RSA";
        case EVP_PKEY_DSA: return "DSA";
        case EVP_PKEY_EC: return "ECDSA";
        case EVP_PKEY_ED25519: return "ED25519";
        case EVP_PKEY_ED448: return "ED448";
        default: return {};
    }
}

// Records the key and the certificate being checked, then checks it as OpenSSL would.
int VerifyAndRecord(X509_STORE_CTX* store, void* arg) {
    auto* record = static_cast<TlsKeyRecord*>(arg);
    if (X509* leaf = X509_STORE_CTX_get0_cert(store)) {
        unsigned char* der = nullptr;
        const int size = i2d_X509_PUBKEY(X509_get_X509_PUBKEY(leaf), &der);
        if (size > 0) record->offered = FingerprintOf(der, static_cast<size_t>(size));
        OPENSSL_free(der);
        der = nullptr;
        const int whole = i2d_X509(leaf, &der);
        if (whole > 0) record->certificate = HexFingerprintOf(der, static_cast<size_t>(whole));
        OPENSSL_free(der);
        record->key_type = CertificateKeyType(leaf);
    }
    return X509_verify_cert(store);
}

}  // namespace

std::string FingerprintOf(const unsigned char* data, size_t size) {
    unsigned char digest[SHA256_DIGEST_LENGTH];
    SHA256(data, size, digest);
    std::string text = Base64(digest, sizeof digest);
    while (!text.empty() && text.back() == '=') text.pop_back();
    return kPrefix + text;
}

std::string HexFingerprintOf(const unsigned char* data, size_t size) {
    static const char kDigits[] = "0123456789ABCDEF";
    unsigned char digest[SHA256_DIGEST_LENGTH];
    SHA256(data, size, digest);
    std::string text;
    for (unsigned char byte : digest) {
        if (!text.empty()) text += ':';
        text += kDigits[byte >> 4];
        text += kDigits[byte & 15];
    }
    return text;
}

std::string NamedFingerprint(const std::string& key_type, const std::string& fingerprint) {
    return key_type.empty() || fingerprint.empty() ? fingerprint : key_type + " " + fingerprint;
}

bool IsFingerprint(const std::string& text) {
    if (text.rfind(kPrefix, 0) != 0) return false;
    const std::string digest = text.substr(std::char_traits<char>::length(kPrefix));
    if (digest.size() != kDigestChars) return false;
    for (char c : digest)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '+' && c != '/') return false;
    return Unbase64(digest + "=").size() == SHA256_DIGEST_LENGTH;
}

std::string PinnedKeyOf(const std::string& fingerprint) {
    return "sha256//" + fingerprint.substr(std::char_traits<char>::length(kPrefix)) + "=";
}

std::string DescribeIdentityProblem(const ServerIdentity& identity) {
    switch (identity.check) {
        case IdentityCheck::Trusted:
            return {};
        case IdentityCheck::Unknown:
            return "unknown server identity: the server offered " +
                   (identity.offered.empty() ? std::string("a key that could not be read")
                                             : LoggedFingerprint(identity.offered_type, identity.offered)) +
                   ", which nothing confirms yet";
        case IdentityCheck::Changed:
            return "the server's identity changed: " + identity.expected_from + " holds " +
                   LoggedFingerprint(identity.expected_type, identity.expected) + ", the server offered " +
                   LoggedFingerprint(identity.offered_type, identity.offered);
    }
    return {};
}

std::string UserKnownHostsFile() {
    const char* home = std::getenv("HOME");
    if (!home || !*home) return "/dev/null";
    return std::string(home) + "/.ssh/known_hosts";
}

int CheckSshHostKey(CURL*, const curl_khkey* known, const curl_khkey* found, curl_khmatch match, void* data) {
    auto* check = static_cast<SshHostCheck*>(data);
    ServerIdentity& result = check->result;
    result = ServerIdentity{};
    result.offered = FingerprintOfKey(found);
    result.offered_type = SshKeyType(found);
    if (match == CURLKHMATCH_OK) return CURLKHSTAT_FINE;
    if (match == CURLKHMATCH_MISMATCH) {
        // known_hosts names another key for this host: as OpenSSH does, never connect.
        result.check = IdentityCheck::Changed;
        result.expected = FingerprintOfKey(known);
        result.expected_type = SshKeyType(known);
        result.expected_from = check->known_hosts;
        return CURLKHSTAT_REJECT;
    }
    if (check->confirmed.empty()) {
        result.check = IdentityCheck::Unknown;
        return CURLKHSTAT_REJECT;
    }
    if (!result.offered.empty() && result.offered == check->confirmed) return CURLKHSTAT_FINE;
    result.check = IdentityCheck::Changed;
    result.expected = check->confirmed;
    result.expected_type = check->confirmed_type;
    result.expected_from = "the profile";
    return CURLKHSTAT_REJECT;
}

CURLcode RecordTlsServerKey(CURL*, void* ssl_ctx, void* record) {
    SSL_CTX_set_cert_verify_callback(static_cast<SSL_CTX*>(ssl_ctx), VerifyAndRecord, record);
    return CURLE_OK;
}
