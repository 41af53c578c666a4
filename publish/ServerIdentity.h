// Checking who a server is before anything secret is sent to it: the certificate of an
// FTP server over TLS and the host key of an SFTP server. A key is named by its
// fingerprint, written as OpenSSH shows it: "SHA256:" and the unpadded base64 of the
// SHA-256 of the key (for a certificate, of its public key). The user also sees the
// kind of key ("ED25519", "RSA", ...) and, for a certificate, the SHA-256 of the whole
// certificate in the colon-separated hex that providers publish.
#pragma once

#include <curl/curl.h>

#include <cstddef>
#include <string>

// What the last connection learnt about the server's identity.
enum class IdentityCheck {
    Trusted,  // vouched for by an authority, known_hosts or the fingerprint the user confirmed
    Unknown,  // nothing vouches for it: the user must confirm `offered` first
    Changed,  // it differs from the key the user confirmed (or known_hosts holds)
};

struct ServerIdentity {
    IdentityCheck check = IdentityCheck::Trusted;
    std::string offered;   // fingerprint of the key the server showed; empty when not seen
    std::string expected;  // with Changed: the fingerprint that was expected
    std::string expected_from;  // with Changed: "the profile" or the known_hosts file
    std::string offered_type;   // kind of the offered key; empty when not known
    std::string expected_type;  // kind of the expected key; empty when not known
    std::string certificate;    // FTPS: the certificate's SHA-256 as "AB:CD:...", else empty
};

// "SHA256:<base64 without padding>" of `size` bytes.
std::string FingerprintOf(const unsigned char* data, size_t size);
// The SHA-256 of `size` bytes as upper-case hex byte pairs joined by colons.
std::string HexFingerprintOf(const unsigned char* data, size_t size);
// A fingerprint as the user reads it: its key's kind first ("ED25519 SHA256:..."), when known.
std::string NamedFingerprint(const std::string& key_type, const std::string& fingerprint);
// True for a well-formed fingerprint (43 base64 characters after "SHA256:").
bool IsFingerprint(const std::string& text);
// The form libcurl pins a public key with: "sha256//<base64 with padding>".
std::string PinnedKeyOf(const std::string& fingerprint);
// One line for the log and the user, naming the fingerprints, each followed by its key's
// kind in brackets ("SHA256:... (ED25519)"); empty when trusted.
std::string DescribeIdentityProblem(const ServerIdentity& identity);

// ---- SFTP: the host key is checked against the user's known_hosts and, when that file
//      does not know the host, against the fingerprint stored in the profile.
struct SshHostCheck {
    std::string confirmed;  // the profile's fingerprint, may be empty
    std::string confirmed_type;  // the kind of that key, may be empty
    std::string known_hosts;  // the file that was read, for messages
    ServerIdentity result;
};
// The user's ~/.ssh/known_hosts ($HOME); the path is returned even when the file is missing.
std::string UserKnownHostsFile();
// CURLOPT_SSH_KEYFUNCTION; its data (CURLOPT_SSH_KEYDATA) is an SshHostCheck.
int CheckSshHostKey(CURL* easy, const struct curl_khkey* known, const struct curl_khkey* found,
                    enum curl_khmatch match, void* check);

// ---- FTP over TLS: the certificate is checked against the trusted authorities unless a
//      fingerprint is pinned. The failing handshake of an unknown certificate gives no
//      certificate information to the caller, so the key the server showed is recorded
//      while OpenSSL checks the chain (before the password is sent).
struct TlsKeyRecord {
    std::string offered;
    std::string key_type;
    std::string certificate;  // HexFingerprintOf the certificate's DER bytes
};
// CURLOPT_SSL_CTX_FUNCTION; its data (CURLOPT_SSL_CTX_DATA) is a TlsKeyRecord.
CURLcode RecordTlsServerKey(CURL* easy, void* ssl_ctx, void* record);
