#include "publish/SftpRename.h"

#include <libssh2.h>

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace {

// SFTP packet types and the one extension used.
constexpr unsigned char kInit = 1;
constexpr unsigned char kVersion = 2;
constexpr unsigned char kStatus = 101;
constexpr unsigned char kExtended = 200;
constexpr uint32_t kStatusOk = 0;
constexpr char kPosixRename[] = "posix-rename@openssh.com";
// No answer to these few requests comes near this; a larger length is a broken stream.
constexpr uint32_t kLongestPacket = 256 * 1024;

void PutUint32(std::string& out, uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) out += static_cast<char>((value >> shift) & 0xff);
}

void PutString(std::string& out, const std::string& text) {
    PutUint32(out, static_cast<uint32_t>(text.size()));
    out += text;
}

// Reads the fields of a received packet in order; a field past the end fails the reader.
struct PacketReader {
    const std::string& data;
    size_t at = 0;
    bool ok = true;

    uint32_t Uint32() {
        if (data.size() - at < 4) {
            ok = false;
            return 0;
        }
        uint32_t value = 0;
        for (int i = 0; i < 4; ++i) value = (value << 8) | static_cast<unsigned char>(data[at++]);
        return value;
    }
    std::string String() {
        const uint32_t size = Uint32();
        if (!ok || data.size() - at < size) {
            ok = false;
            return {};
        }
        std::string text = data.substr(at, size);
        at += size;
        return text;
    }
    bool AtEnd() const { return at >= data.size(); }
};

// The kinds of key as the host key callback of the transfer session is given them.
curl_khtype KeyTypeOfHostKey(int type) {
    switch (type) {
        case LIBSSH2_HOSTKEY_TYPE_RSA: return CURLKHTYPE_RSA;
        case LIBSSH2_HOSTKEY_TYPE_DSS: return CURLKHTYPE_DSS;
        case LIBSSH2_HOSTKEY_TYPE_ECDSA_256:
        case LIBSSH2_HOSTKEY_TYPE_ECDSA_384:
        case LIBSSH2_HOSTKEY_TYPE_ECDSA_521: return CURLKHTYPE_ECDSA;
        case LIBSSH2_HOSTKEY_TYPE_ED25519: return CURLKHTYPE_ED25519;
        default: return CURLKHTYPE_UNKNOWN;
    }
}

int KnownHostBitOfHostKey(int type) {
    switch (type) {
        case LIBSSH2_HOSTKEY_TYPE_RSA: return LIBSSH2_KNOWNHOST_KEY_SSHRSA;
        case LIBSSH2_HOSTKEY_TYPE_DSS: return LIBSSH2_KNOWNHOST_KEY_SSHDSS;
        case LIBSSH2_HOSTKEY_TYPE_ECDSA_256: return LIBSSH2_KNOWNHOST_KEY_ECDSA_256;
        case LIBSSH2_HOSTKEY_TYPE_ECDSA_384: return LIBSSH2_KNOWNHOST_KEY_ECDSA_384;
        case LIBSSH2_HOSTKEY_TYPE_ECDSA_521: return LIBSSH2_KNOWNHOST_KEY_ECDSA_521;
        case LIBSSH2_HOSTKEY_TYPE_ED25519: return LIBSSH2_KNOWNHOST_KEY_ED25519;
        default: return 0;
    }
}

curl_khtype KeyTypeOfKnownHost(int typemask) {
    switch (typemask & LIBSSH2_KNOWNHOST_KEY_MASK) {
        case LIBSSH2_KNOWNHOST_KEY_RSA1: return CURLKHTYPE_RSA1;
        case LIBSSH2_KNOWNHOST_KEY_SSHRSA: return CURLKHTYPE_RSA;
        case LIBSSH2_KNOWNHOST_KEY_SSHDSS: return CURLKHTYPE_DSS;
        case LIBSSH2_KNOWNHOST_KEY_ECDSA_256:
        case LIBSSH2_KNOWNHOST_KEY_ECDSA_384:
        case LIBSSH2_KNOWNHOST_KEY_ECDSA_521: return CURLKHTYPE_ECDSA;
        case LIBSSH2_KNOWNHOST_KEY_ED25519: return CURLKHTYPE_ED25519;
        default: return CURLKHTYPE_UNKNOWN;
    }
}

// The host key algorithms to ask for when known_hosts holds a key of this kind, so that
// the server shows that key and not another one it also has.
const char* HostKeyMethodsFor(int typemask) {
    switch (typemask & LIBSSH2_KNOWNHOST_KEY_MASK) {
        case LIBSSH2_KNOWNHOST_KEY_ED25519: return "ssh-ed25519";
        case LIBSSH2_KNOWNHOST_KEY_ECDSA_521: return "ecdsa-sha2-nistp521";
        case LIBSSH2_KNOWNHOST_KEY_ECDSA_384: return "ecdsa-sha2-nistp384";
        case LIBSSH2_KNOWNHOST_KEY_ECDSA_256: return "ecdsa-sha2-nistp256";
        case LIBSSH2_KNOWNHOST_KEY_SSHRSA: return "rsa-sha2-256,rsa-sha2-512,ssh-rsa";
        case LIBSSH2_KNOWNHOST_KEY_SSHDSS: return "ssh-dss";
        default: return nullptr;
    }
}

// The known_hosts entry that names this host and port: "[host]:port" or, on port 22, the
// bare name; a hashed entry, whose name cannot be read, counts as well. This is how the
// transfer session picks the kind of key to ask for.
libssh2_knownhost* EntryFor(LIBSSH2_KNOWNHOSTS* hosts, const std::string& host, int port) {
    libssh2_knownhost* entry = nullptr;
    while (libssh2_knownhost_get(hosts, &entry, entry) == 0) {
        if (!entry) break;
        if (!entry->name) return entry;
        const std::string name = entry->name;
        if (name.size() > 1 && name[0] == '[') {
            const size_t end = name.find("]:");
            if (end != std::string::npos && std::atoi(name.c_str() + end + 2) == port &&
                name.compare(1, end - 1, host) == 0)
                return entry;
        } else if (name == host) {
            return entry;
        }
    }
    return nullptr;
}

LIBSSH2_USERAUTH_KBDINT_RESPONSE_FUNC(AnswerWithPassword) {
    (void)name;
    (void)name_len;
    (void)instruction;
    (void)instruction_len;
    (void)prompts;
    const std::string& password = *static_cast<const std::string*>(*abstract);
    for (int i = 0; i < num_prompts; ++i) {
        // libssh2 frees each answer with the C library's free().
        char* text = static_cast<char*>(std::malloc(password.size() + 1));
        if (!text) continue;
        std::memcpy(text, password.c_str(), password.size() + 1);
        responses[i].text = text;
        responses[i].length = static_cast<unsigned int>(password.size());
    }
}

// Connects a TCP socket to host:port within `timeout_ms`; -1 when none could be had.
int ConnectSocket(const std::string& host, int port, long timeout_ms) {
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0) return -1;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    int connected = -1;
    for (addrinfo* address = found; address && connected < 0; address = address->ai_next) {
        const int fd = socket(address->ai_family, address->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK,
                              address->ai_protocol);
        if (fd < 0) continue;
        bool ok = connect(fd, address->ai_addr, address->ai_addrlen) == 0;
        if (!ok && errno == EINPROGRESS) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
            pollfd wait{fd, POLLOUT, 0};
            int error = 0;
            socklen_t size = sizeof error;
            ok = left.count() > 0 && poll(&wait, 1, static_cast<int>(left.count())) == 1 &&
                 getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) == 0 && error == 0;
        }
        if (ok) {
            // libssh2 waits on the socket itself, bounded by the session's time-out.
            fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
            // Each request is small and waits for its answer: not held back to be merged.
            const int on = 1;
            setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
            connected = fd;
        } else {
            close(fd);
        }
    }
    freeaddrinfo(found);
    return connected;
}

}  // namespace

CURLcode SftpRename::Fail(CURLcode code, const std::string& reason) {
    reason_ = reason;
    Close();
    return code;
}

CURLcode SftpRename::Failed(int ssh_error, const std::string& what) {
    char* message = nullptr;
    if (session_) libssh2_session_last_error(session_, &message, nullptr, 0);
    const std::string reason = what + (message && *message ? std::string(": ") + message : std::string());
    switch (ssh_error) {
        case LIBSSH2_ERROR_TIMEOUT:
            return Fail(CURLE_OPERATION_TIMEDOUT, reason);
        case LIBSSH2_ERROR_AUTHENTICATION_FAILED:
        case LIBSSH2_ERROR_PUBLICKEY_UNVERIFIED:
        case LIBSSH2_ERROR_FILE:
            return Fail(CURLE_LOGIN_DENIED, reason);
        default:
            // A connection that broke or closed, as the transfer session reports it.
            return Fail(CURLE_SSH, reason);
    }
}

CURLcode SftpRename::Open(const FtpEndpoint& endpoint) {
    static std::once_flag initialised;
    std::call_once(initialised, [] { libssh2_init(0); });
    Close();
    reason_.clear();
    check_ = SshHostCheck{};
    can_overwrite_ = false;
    next_id_ = 1;
    CURLcode code = Connect(endpoint);
    if (code == CURLE_OK) code = CheckHostKey(endpoint);
    if (code == CURLE_OK) code = LogIn(endpoint);
    if (code == CURLE_OK) code = StartSftp();
    return code;
}

CURLcode SftpRename::Connect(const FtpEndpoint& endpoint) {
    const long timeout_ms = NetTimeoutMs(endpoint.timeout_ms);
    socket_ = ConnectSocket(endpoint.host, endpoint.port, timeout_ms);
    if (socket_ < 0) return Fail(CURLE_COULDNT_CONNECT, "could not connect to " + endpoint.host);
    password_ = endpoint.password;
    session_ = libssh2_session_init_ex(nullptr, nullptr, nullptr, &password_);
    if (!session_) return Fail(CURLE_FAILED_INIT, "no SSH session");
    libssh2_session_set_blocking(session_, 1);
    libssh2_session_set_timeout(session_, timeout_ms);
    return CURLE_OK;
}

CURLcode SftpRename::CheckHostKey(const FtpEndpoint& endpoint) {
    check_.confirmed = endpoint.transport.fingerprint;
    check_.confirmed_type = endpoint.transport.key_type;
    check_.known_hosts = UserKnownHostsFile();
    LIBSSH2_KNOWNHOSTS* hosts = libssh2_knownhost_init(session_);
    if (!hosts) return Fail(CURLE_FAILED_INIT, "no known hosts list");
    // A missing or unreadable file knows no host.
    libssh2_knownhost_readfile(hosts, check_.known_hosts.c_str(), LIBSSH2_KNOWNHOST_FILE_OPENSSH);
    if (libssh2_knownhost* entry = EntryFor(hosts, endpoint.host, endpoint.port))
        if (const char* methods = HostKeyMethodsFor(entry->typemask))
            libssh2_session_method_pref(session_, LIBSSH2_METHOD_HOSTKEY, methods);
    const int handshake = libssh2_session_handshake(session_, socket_);
    if (handshake != 0) {
        libssh2_knownhost_free(hosts);
        return Failed(handshake, "SSH handshake failed");
    }
    size_t key_size = 0;
    int key_type = LIBSSH2_HOSTKEY_TYPE_UNKNOWN;
    const char* key = libssh2_session_hostkey(session_, &key_size, &key_type);
    int match = LIBSSH2_KNOWNHOST_CHECK_FAILURE;
    libssh2_knownhost* known = nullptr;
    if (key && KnownHostBitOfHostKey(key_type) != 0)
        match = libssh2_knownhost_checkp(hosts, endpoint.host.c_str(), endpoint.port != 22 ? endpoint.port : -1, key,
                                         key_size,
                                         LIBSSH2_KNOWNHOST_TYPE_PLAIN | LIBSSH2_KNOWNHOST_KEYENC_RAW |
                                             KnownHostBitOfHostKey(key_type),
                                         &known);
    // The very judgement the transfer session's callback makes, on the same inputs.
    curl_khkey found{key, key_size, KeyTypeOfHostKey(key_type)};
    curl_khkey expected{};
    const bool has_known = known && match <= LIBSSH2_KNOWNHOST_CHECK_MISMATCH;
    if (has_known) expected = curl_khkey{known->key, 0, KeyTypeOfKnownHost(known->typemask)};
    const int verdict = CheckSshHostKey(nullptr, has_known ? &expected : nullptr, key ? &found : nullptr,
                                        static_cast<curl_khmatch>(match), &check_);
    libssh2_knownhost_free(hosts);
    if (verdict != CURLKHSTAT_FINE) return Fail(CURLE_PEER_FAILED_VERIFICATION, DescribeIdentityProblem(check_.result));
    return CURLE_OK;
}

CURLcode SftpRename::LogIn(const FtpEndpoint& endpoint) {
    const std::string& user = endpoint.user;
    const unsigned user_size = static_cast<unsigned>(user.size());
    int result = LIBSSH2_ERROR_AUTHENTICATION_FAILED;
    if (!endpoint.transport.key_file.empty()) {
        // No public key file: libssh2 derives the public key from the private one.
        result = libssh2_userauth_publickey_fromfile_ex(session_, user.c_str(), user_size, nullptr,
                                                        endpoint.transport.key_file.c_str(),
                                                        endpoint.transport.passphrase.c_str());
    } else {
        const char* methods = libssh2_userauth_list(session_, user.c_str(), user_size);
        if (!methods && !libssh2_userauth_authenticated(session_)) {
            const int error = libssh2_session_last_errno(session_);
            if (error != 0) return Failed(error, "SSH login failed");
        }
        const std::string offered = methods ? methods : "";
        if (offered.find("password") != std::string::npos)
            result = libssh2_userauth_password_ex(session_, user.c_str(), user_size, endpoint.password.c_str(),
                                                  static_cast<unsigned>(endpoint.password.size()), nullptr);
        else if (offered.find("keyboard-interactive") != std::string::npos)
            result = libssh2_userauth_keyboard_interactive_ex(session_, user.c_str(), user_size, AnswerWithPassword);
    }
    password_.clear();
    if (result != 0 || !libssh2_userauth_authenticated(session_)) return Failed(result, "SSH login failed");
    return CURLE_OK;
}

CURLcode SftpRename::StartSftp() {
    channel_ = libssh2_channel_open_session(session_);
    if (!channel_) return Failed(libssh2_session_last_errno(session_), "no SSH channel");
    const int started = libssh2_channel_process_startup(channel_, "subsystem", 9, "sftp", 4);
    if (started != 0) return Failed(started, "the server did not start SFTP");
    std::string init(1, static_cast<char>(kInit));
    PutUint32(init, 3);
    std::string reply;
    CURLcode code = Send(init);
    if (code == CURLE_OK) code = Receive(reply);
    if (code != CURLE_OK) return code;
    PacketReader in{reply};
    in.at = 1;
    in.Uint32();  // the server's version; 3 and later keep the packets used here
    if (reply.empty() || static_cast<unsigned char>(reply[0]) != kVersion || !in.ok)
        return Fail(CURLE_SSH, "the server's SFTP greeting could not be read");
    // The extensions the server offers follow as name and data pairs.
    while (!in.AtEnd()) {
        const std::string name = in.String();
        in.String();
        if (!in.ok) return Fail(CURLE_SSH, "the server's SFTP greeting could not be read");
        if (name == kPosixRename) can_overwrite_ = true;
    }
    return CURLE_OK;
}

CURLcode SftpRename::Rename(const std::string& from, const std::string& to) {
    if (!channel_) return Fail(CURLE_SSH, "the rename connection is closed");
    const uint32_t id = next_id_++;
    std::string request(1, static_cast<char>(kExtended));
    PutUint32(request, id);
    PutString(request, kPosixRename);
    PutString(request, from);
    PutString(request, to);
    CURLcode code = Send(request);
    // Answers are matched by request id: one left over from an earlier request is skipped.
    // Each read is bounded by the time-out, and so is a server that keeps answering others.
    std::string reply;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(4 * libssh2_session_get_timeout(session_));
    while (code == CURLE_OK) {
        code = Receive(reply);
        if (code != CURLE_OK) break;
        PacketReader in{reply};
        in.at = 1;
        const uint32_t answered = in.Uint32();
        if (!in.ok) return Fail(CURLE_SSH, "an SFTP answer could not be read");
        if (answered != id) {
            if (std::chrono::steady_clock::now() > end) return Fail(CURLE_OPERATION_TIMEDOUT, "no answer to the rename");
            continue;
        }
        if (static_cast<unsigned char>(reply[0]) != kStatus) return Fail(CURLE_SSH, "an unexpected SFTP answer");
        const uint32_t status = in.Uint32();
        const std::string message = in.String();
        if (!in.ok) return Fail(CURLE_SSH, "an SFTP answer could not be read");
        if (status == kStatusOk) return CURLE_OK;
        // The connection stays usable after a refusal.
        reason_ = "rename of " + from + " to " + to + " refused: " + (message.empty() ? "status " + std::to_string(status) : message);
        return CURLE_QUOTE_ERROR;
    }
    return code;
}

CURLcode SftpRename::Send(const std::string& packet) {
    std::string framed;
    PutUint32(framed, static_cast<uint32_t>(packet.size()));
    framed += packet;
    for (size_t done = 0; done < framed.size();) {
        const ssize_t sent = libssh2_channel_write(channel_, framed.data() + done, framed.size() - done);
        if (sent < 0) return Failed(static_cast<int>(sent), "the SFTP request could not be sent");
        done += static_cast<size_t>(sent);
    }
    return CURLE_OK;
}

CURLcode SftpRename::ReadExactly(char* data, size_t size) {
    for (size_t done = 0; done < size;) {
        const ssize_t got = libssh2_channel_read(channel_, data + done, size - done);
        if (got < 0) return Failed(static_cast<int>(got), "no SFTP answer");
        if (got == 0 && libssh2_channel_eof(channel_)) return Fail(CURLE_SSH, "the server closed the SFTP channel");
        done += static_cast<size_t>(got);
    }
    return CURLE_OK;
}

CURLcode SftpRename::Receive(std::string& packet) {
    char length[4];
    CURLcode code = ReadExactly(length, sizeof length);
    if (code != CURLE_OK) return code;
    const std::string prefix(length, sizeof length);
    PacketReader in{prefix};
    const uint32_t size = in.Uint32();
    if (size == 0 || size > kLongestPacket) return Fail(CURLE_SSH, "an SFTP answer of impossible length");
    packet.assign(size, '\0');
    return ReadExactly(packet.data(), size);
}

void SftpRename::Close() {
    if (session_) {
        // A goodbye is waited for a second at most. libssh2 frees a session only once its
        // channel is closed; with the socket shut, that close cannot wait any longer.
        libssh2_session_set_timeout(session_, std::min(1000L, libssh2_session_get_timeout(session_)));
        if (channel_) libssh2_channel_free(channel_);
        libssh2_session_disconnect(session_, "done");
        if (socket_ >= 0) shutdown(socket_, SHUT_RDWR);
        libssh2_session_free(session_);
    }
    channel_ = nullptr;
    session_ = nullptr;
    if (socket_ >= 0) close(socket_);
    socket_ = -1;
    password_.clear();
}
