#include "publish/FtpSession.h"

#include "config/DiagLog.h"
#include "publish/SftpRename.h"

#include <chrono>
#include <cstdio>
#include <sstream>
#include <sys/random.h>
#include <vector>

namespace {

size_t CollectHeader(char* data, size_t size, size_t count, void* user) {
    static_cast<std::string*>(user)->append(data, size * count);
    return size * count;
}

size_t DiscardBody(char*, size_t size, size_t count, void*) { return size * count; }

size_t WriteToFile(char* data, size_t size, size_t count, void* user) {
    return std::fwrite(data, size, count, static_cast<FILE*>(user)) * size;
}

size_t AppendToText(char* data, size_t size, size_t count, void* user) {
    static_cast<std::string*>(user)->append(data, size * count);
    return size * count;
}

// The end of every temporary name: a file with it is never one of a book's own.
constexpr char kTemporarySuffix[] = ".vellumark-part";

// Eight hexadecimal digits, new for each session.
std::string RandomTag() {
    unsigned char bytes[4] = {};
    if (getrandom(bytes, sizeof bytes, 0) != static_cast<ssize_t>(sizeof bytes)) {
        const auto now = std::chrono::steady_clock::now().time_since_epoch().count();
        for (size_t i = 0; i < sizeof bytes; ++i) bytes[i] = static_cast<unsigned char>(now >> (8 * i));
    }
    char text[9];
    std::snprintf(text, sizeof text, "%02x%02x%02x%02x", bytes[0], bytes[1], bytes[2], bytes[3]);
    return text;
}

CurlSlist ListOf(const std::vector<std::string>& items) {
    curl_slist* list = nullptr;
    for (const std::string& item : items) {
        curl_slist* longer = curl_slist_append(list, item.c_str());
        if (!longer) break;
        list = longer;
    }
    return CurlSlist(list);
}

size_t ReadFromFile(char* data, size_t size, size_t count, void* user) {
    return std::fread(data, size, count, static_cast<FILE*>(user)) * size;
}

FtpFailure Classify(CURLcode code, bool sftp) {
    switch (code) {
        case CURLE_OK:
            return FtpFailure::None;
        case CURLE_OPERATION_TIMEDOUT:
            return FtpFailure::TimedOut;
        case CURLE_SEND_ERROR:
        case CURLE_RECV_ERROR:
        case CURLE_GOT_NOTHING:
            return FtpFailure::Reset;
        case CURLE_SSH:
            // libssh2 reports a connection that broke or closed as a general SSH error.
            return sftp ? FtpFailure::Reset : FtpFailure::Other;
        default:
            return FtpFailure::Other;
    }
}

// An argument of an SFTP quote command: quoted, with '"' and '\\' escaped.
std::string SftpArgument(const std::string& path) {
    std::string quoted = "\"";
    for (char c : path) {
        if (c == '"' || c == '\\') quoted += '\\';
        quoted += c;
    }
    return quoted + "\"";
}

// The last complete reply line in the collected control-connection text.
std::string LastLine(const std::string& text) {
    std::istringstream in(text);
    std::string line, last;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty()) last = line;
    }
    return last;
}

// The folder named in the last "257" reply (quotes doubled inside the name).
std::string FolderFrom257(const std::string& text) {
    std::istringstream in(text);
    std::string line, folder;
    while (std::getline(in, line)) {
        if (line.rfind("257", 0) != 0) continue;
        const size_t open = line.find('"');
        if (open == std::string::npos) continue;
        std::string name;
        for (size_t i = open + 1; i < line.size(); ++i) {
            if (line[i] == '"') {
                if (i + 1 < line.size() && line[i + 1] == '"') {
                    name += '"';
                    ++i;
                    continue;
                }
                break;
            }
            name += line[i];
        }
        folder = name;
    }
    return folder;
}

}  // namespace

std::string FtpSession::Resolve(const std::string& base, const std::string& path) {
    std::vector<std::string> parts;
    auto add = [&parts](const std::string& text) {
        std::string part;
        std::istringstream in(text);
        while (std::getline(in, part, '/')) {
            if (part.empty() || part == ".") continue;
            if (part == "..") {
                if (!parts.empty()) parts.pop_back();
            } else {
                parts.push_back(part);
            }
        }
    };
    if (path.empty() || path[0] != '/') add(base);
    add(path);
    std::string result;
    for (const auto& part : parts) result += "/" + part;
    return result.empty() ? "/" : result;
}

std::string FtpSession::FolderUrl(const std::string& folder) const {
    // An FTP address names its path from the login folder unless it starts with "%2F";
    // an SFTP address names it from the root.
    std::string url = (IsSftp() ? "sftp://" : "ftp://") + endpoint_.host + ":" + std::to_string(endpoint_.port) +
                      (IsSftp() ? "/" : "/%2F");
    std::istringstream in(folder);
    std::string part;
    while (std::getline(in, part, '/')) {
        if (part.empty()) continue;
        char* escaped = curl_easy_escape(handle_.get(), part.c_str(), static_cast<int>(part.size()));
        url += escaped ? escaped : "";
        url += "/";
        curl_free(escaped);
    }
    return url;
}

void FtpSession::Prepare(const std::string& url, int64_t upload_bytes) {
    CURL* h = handle_.get();
    // Every command and transfer has deadlines of its own (see ExchangeLimits); a
    // server that stalls or trickles fails it with a time-out, which reconnects.
    const ExchangeLimits limits = LimitsFor(endpoint_.timeout_ms, upload_bytes);
    ApplyLimits(h, limits);
    curl_easy_setopt(h, CURLOPT_SERVER_RESPONSE_TIMEOUT, limits.stall_seconds);
    // Options of the previous transfer must not leak into this one.
    curl_easy_setopt(h, CURLOPT_UPLOAD, 0L);
    curl_easy_setopt(h, CURLOPT_NOBODY, 0L);
    curl_easy_setopt(h, CURLOPT_QUOTE, nullptr);
    curl_easy_setopt(h, CURLOPT_POSTQUOTE, nullptr);
    curl_easy_setopt(h, CURLOPT_DIRLISTONLY, 0L);
    curl_easy_setopt(h, CURLOPT_READDATA, nullptr);
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, DiscardBody);
    curl_easy_setopt(h, CURLOPT_URL, url.c_str());
    headers_.clear();
    error_text_[0] = '\0';
}

CURLcode FtpSession::RunTransfer() {
    // The library's own wait loop can sleep a whole second before it notices that a
    // passive data connection is up (about one file in thirty on a fast link); waiting in
    // short slices of our own bounds that delay without busy-looping.
    constexpr int kWaitSliceMs = 5;
    CURLM* multi = multi_.get();
    CURL* h = handle_.get();
    if (curl_multi_add_handle(multi, h) != CURLM_OK) return CURLE_FAILED_INIT;
    CURLcode result = CURLE_OK;
    int running = 1;
    while (running > 0) {
        if (curl_multi_perform(multi, &running) != CURLM_OK) {
            result = CURLE_FAILED_INIT;
            break;
        }
        if (running > 0) curl_multi_poll(multi, nullptr, 0, kWaitSliceMs, nullptr);
    }
    int left = 0;
    while (CURLMsg* message = curl_multi_info_read(multi, &left))
        if (message->msg == CURLMSG_DONE && message->easy_handle == h) result = message->data.result;
    curl_multi_remove_handle(multi, h);
    return result;
}

FtpSession::FtpSession() = default;
FtpSession::~FtpSession() = default;

bool FtpSession::Perform() {
    // SFTP has no reply lines: libcurl's own account of the failure stands for one.
    const CURLcode code = RunTransfer();
    return Conclude(code, IsSftp() ? std::string(error_text_) : LastLine(headers_));
}

bool FtpSession::Conclude(CURLcode code, const std::string& reason) {
    last_error_ = static_cast<int32_t>(code);
    last_failure_ = Classify(code, IsSftp());
    if (code == CURLE_OK) {
        last_reply_.clear();
        return true;
    }
    NoteIdentity(code);
    if (last_failure_ == FtpFailure::Identity) {
        last_reply_ = DescribeIdentityProblem(identity_);
        DiagLog::Instance().SetLastServerResponse(last_reply_);
        return false;
    }
    last_reply_ = reason;
    // A refusal is explained by the server's reply; a broken or silent connection by
    // the library's description (the last reply then predates the failure).
    const bool refused = last_failure_ == FtpFailure::Other && !last_reply_.empty();
    DiagLog::Instance().SetLastServerResponse(refused ? last_reply_ : std::string(curl_easy_strerror(code)));
    return false;
}

void FtpSession::NoteIdentity(CURLcode code) {
    if (code != CURLE_PEER_FAILED_VERIFICATION && code != CURLE_SSL_PINNEDPUBKEYNOTMATCH) return;
    ServerIdentity seen;
    if (IsSftp()) {
        seen = ssh_check_.result;
    } else if (endpoint_.transport.protocol == FtpProtocol::Ftps) {
        RecordedTlsIdentity(seen);
        if (code == CURLE_SSL_PINNEDPUBKEYNOTMATCH) {
            seen.check = IdentityCheck::Changed;
            seen.expected = endpoint_.transport.fingerprint;
            seen.expected_type = endpoint_.transport.key_type;
            seen.expected_from = "the profile";
        } else if (endpoint_.transport.fingerprint.empty()) {
            // No authority vouches for the certificate (self-signed, another name, expired).
            seen.check = IdentityCheck::Unknown;
        }
    }
    if (seen.check == IdentityCheck::Trusted) return;
    identity_ = seen;
    last_failure_ = FtpFailure::Identity;
}

void FtpSession::RecordedTlsIdentity(ServerIdentity& identity) const {
    identity.offered = tls_record_.offered;
    identity.offered_type = tls_record_.key_type;
    identity.certificate = tls_record_.certificate;
}

bool FtpSession::FailLocally(int32_t code) {
    last_failure_ = FtpFailure::Other;
    last_error_ = code;
    last_reply_.clear();
    DiagLog::Instance().SetLastServerResponse(curl_easy_strerror(static_cast<CURLcode>(code)));
    return false;
}

void FtpSession::SetUpTransport() {
    CURL* h = handle_.get();
    if (endpoint_.transport.protocol == FtpProtocol::Ftps) {
        curl_easy_setopt(h, CURLOPT_USE_SSL, static_cast<long>(CURLUSESSL_ALL));
        curl_easy_setopt(h, CURLOPT_FTPSSLAUTH, static_cast<long>(CURLFTPAUTH_TLS));
        // Servers that insist that each data connection resumes the TLS session of the
        // control connection ("522 session reuse required") refuse some of them under
        // TLS 1.3, whose later tickets name sessions of their own: TLS 1.2 resumes the
        // one session throughout.
        curl_easy_setopt(h, CURLOPT_SSLVERSION,
                         static_cast<long>(CURL_SSLVERSION_TLSv1_2) | static_cast<long>(CURL_SSLVERSION_MAX_TLSv1_2));
        curl_easy_setopt(h, CURLOPT_SSL_CTX_FUNCTION, RecordTlsServerKey);
        curl_easy_setopt(h, CURLOPT_SSL_CTX_DATA, &tls_record_);
        if (!endpoint_.transport.fingerprint.empty()) {
            // The user confirmed this very key: it identifies the server whatever
            // authority signed the certificate and whatever name it carries.
            curl_easy_setopt(h, CURLOPT_SSL_VERIFYPEER, 0L);
            curl_easy_setopt(h, CURLOPT_SSL_VERIFYHOST, 0L);
            curl_easy_setopt(h, CURLOPT_PINNEDPUBLICKEY, PinnedKeyOf(endpoint_.transport.fingerprint).c_str());
        }
    } else if (IsSftp()) {
        const bool with_key = !endpoint_.transport.key_file.empty();
        curl_easy_setopt(h, CURLOPT_SSH_AUTH_TYPES,
                         with_key ? CURLSSH_AUTH_PUBLICKEY : (CURLSSH_AUTH_PASSWORD | CURLSSH_AUTH_KEYBOARD));
        if (with_key) {
            curl_easy_setopt(h, CURLOPT_SSH_PRIVATE_KEYFILE, endpoint_.transport.key_file.c_str());
            // Empty: libssh2 derives the public key from the private one.
            curl_easy_setopt(h, CURLOPT_SSH_PUBLIC_KEYFILE, "");
            curl_easy_setopt(h, CURLOPT_KEYPASSWD, endpoint_.transport.passphrase.c_str());
        }
        ssh_check_.confirmed = endpoint_.transport.fingerprint;
        ssh_check_.confirmed_type = endpoint_.transport.key_type;
        ssh_check_.known_hosts = UserKnownHostsFile();
        curl_easy_setopt(h, CURLOPT_SSH_KNOWNHOSTS, ssh_check_.known_hosts.c_str());
        curl_easy_setopt(h, CURLOPT_SSH_KEYFUNCTION, CheckSshHostKey);
        curl_easy_setopt(h, CURLOPT_SSH_KEYDATA, &ssh_check_);
    }
}

bool FtpSession::Open(const FtpEndpoint& endpoint) {
    EnsureCurlGlobalInit();
    Close();
    endpoint_ = endpoint;
    identity_ = ServerIdentity{};
    ssh_check_ = SshHostCheck{};
    overwrite_ = Overwrite::Unknown;
    tls_record_ = TlsKeyRecord{};
    if (!endpoint.transport.unknown_protocol.empty()) return FailLocally(CURLE_UNSUPPORTED_PROTOCOL);
    if (session_tag_.empty()) session_tag_ = RandomTag();
    multi_.reset(curl_multi_init());
    handle_.reset(curl_easy_init());
    if (!handle_ || !multi_) {
        return FailLocally(CURLE_FAILED_INIT);
    }
    CURL* h = handle_.get();
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_ERRORBUFFER, error_text_);
    UseConfiguredAuthorities(h);
    curl_easy_setopt(h, CURLOPT_USERNAME, endpoint.user.c_str());
    if (!IsSftp() || endpoint.transport.key_file.empty()) curl_easy_setopt(h, CURLOPT_PASSWORD, endpoint.password.c_str());
    curl_easy_setopt(h, CURLOPT_ACCEPTTIMEOUT_MS, static_cast<long>(NetTimeoutMs(endpoint.timeout_ms)));
    curl_easy_setopt(h, CURLOPT_FTP_FILEMETHOD, static_cast<long>(CURLFTPMETHOD_SINGLECWD));
    curl_easy_setopt(h, CURLOPT_FTPPORT, endpoint.passive ? nullptr : endpoint.active_address.c_str());
    curl_easy_setopt(h, CURLOPT_TRANSFERTEXT, 0L);
    curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, CollectHeader);
    curl_easy_setopt(h, CURLOPT_HEADERDATA, &headers_);
    SetUpTransport();
    const std::string server = endpoint.host + ":" + std::to_string(endpoint.port);
    CurlSlist pwd(IsSftp() ? curl_slist_append(nullptr, "pwd") : nullptr);
    if (IsSftp()) {
        // "~" is the home folder, where an SFTP login starts; libcurl answers "pwd" with
        // an FTP-like "257" line naming the folder of the address.
        Prepare("sftp://" + server + "/~/");
        curl_easy_setopt(h, CURLOPT_QUOTE, pwd.get());
    } else {
        // Logging in: curl sends USER, PASS and PWD; the PWD reply names the login folder.
        Prepare("ftp://" + server + "/");
    }
    curl_easy_setopt(h, CURLOPT_NOBODY, 1L);
    const bool ok = Perform();
    curl_easy_setopt(h, CURLOPT_QUOTE, nullptr);
    if (endpoint.transport.protocol == FtpProtocol::Ftps) RecordedTlsIdentity(identity_);
    if (IsSftp() && identity_.check == IdentityCheck::Trusted) {
        identity_.offered = ssh_check_.result.offered;
        identity_.offered_type = ssh_check_.result.offered_type;
    }
    if (!ok) {
        Close();
        return false;
    }
    const std::string folder = FolderFrom257(headers_);
    login_folder_ = !folder.empty() && folder[0] == '/' ? Resolve("/", folder) : std::string(1, '/');
    current_ = login_folder_;
    return true;
}

void FtpSession::Close() {
    renamer_.reset();
    handle_.reset();
    multi_.reset();  // closes the kept connection
}

bool FtpSession::RunCommand(const std::string& command) { return RunCommands({command}); }

bool FtpSession::RunCommands(const std::vector<std::string>& commands) {
    if (!handle_) {
        return FailLocally(CURLE_FAILED_INIT);
    }
    // SFTP: with no body requested for a folder address, libcurl runs the command and
    // stops before it would list the folder.
    Prepare(FolderUrl(current_));
    CurlSlist list = ListOf(commands);
    curl_easy_setopt(handle_.get(), CURLOPT_QUOTE, list.get());
    curl_easy_setopt(handle_.get(), CURLOPT_NOBODY, 1L);
    const bool ok = Perform();
    curl_easy_setopt(handle_.get(), CURLOPT_QUOTE, nullptr);
    return ok;
}

bool FtpSession::ChangeFolder(const std::string& path) {
    if (!handle_) {
        return FailLocally(CURLE_FAILED_INIT);
    }
    const std::string target = Resolve(current_, path);
    Prepare(FolderUrl(target));
    if (IsSftp()) {
        // No current folder to change: reading the folder's names proves it exists
        // and may be entered.
        curl_easy_setopt(handle_.get(), CURLOPT_DIRLISTONLY, 1L);
    } else {
        // With no body requested, curl changes into the folder of the address and stops.
        curl_easy_setopt(handle_.get(), CURLOPT_NOBODY, 1L);
    }
    if (!Perform()) return false;
    current_ = target;
    return true;
}

// Folder commands name the folder by its absolute path: the server's own current folder
// on a reused connection need not be the one tracked here.
bool FtpSession::RunFolderCommand(const char* ftp_verb, const char* sftp_verb, const std::string& path) {
    const std::string absolute = Resolve(current_, path);
    if (IsSftp()) return RunCommand(std::string(sftp_verb) + " " + SftpArgument(absolute));
    return RunCommand(std::string(ftp_verb) + " " + absolute);
}

bool FtpSession::MakeFolder(const std::string& name) {
    if (!RunFolderCommand("MKD", "mkdir", name)) return false;
    made_folders_.insert(Resolve(current_, name));
    return true;
}

bool FtpSession::RemoveFolder(const std::string& name) { return RunFolderCommand("RMD", "rmdir", name); }

bool FtpSession::RemoveFile(const std::string& path) { return RunFolderCommand("DELE", "rm", path); }

std::string FtpSession::TemporaryName(const std::string& remote_name) const {
    return remote_name + "." + session_tag_ + kTemporarySuffix;
}

bool FtpSession::IsTemporaryName(const std::string& name) {
    const std::string suffix = kTemporarySuffix;
    return name.size() > suffix.size() && name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0;
}

std::vector<std::string> FtpSession::RenameCommands(const std::string& from, const std::string& to,
                                                    bool remove_first) const {
    std::vector<std::string> commands;
    if (IsSftp()) {
        if (remove_first) commands.push_back("*rm " + SftpArgument(to));
        commands.push_back("rename " + SftpArgument(from) + " " + SftpArgument(to));
    } else {
        if (remove_first) commands.push_back("*DELE " + to);
        commands.push_back("RNFR " + from);
        commands.push_back("RNTO " + to);
    }
    return commands;
}

bool FtpSession::PutFile(const std::string& local_path, const std::string& remote_name) {
    if (!handle_) {
        return FailLocally(CURLE_FAILED_INIT);
    }
    FILE* file = std::fopen(local_path.c_str(), "rb");
    if (!file) {
        return FailLocally(CURLE_READ_ERROR);
    }
    std::fseek(file, 0, SEEK_END);
    const long size = std::ftell(file);
    std::fseek(file, 0, SEEK_SET);
    const bool whole = !endpoint_.transport.replace_in_place && made_folders_.count(current_) == 0;
    bool failed = false;
    const bool own_rename = whole && IsSftp() && RenamesOverOldFiles(failed);
    if (failed) {
        std::fclose(file);
        return false;
    }
    const std::string written = whole ? TemporaryName(remote_name) : remote_name;
    const std::string temporary = Resolve(current_, written);
    const std::string final_path = Resolve(current_, remote_name);
    CURL* h = handle_.get();
    char* escaped = curl_easy_escape(h, written.c_str(), static_cast<int>(written.size()));
    Prepare(FolderUrl(current_) + (escaped ? escaped : ""), size);
    curl_free(escaped);
    // The rename follows the transfer on the same connection, unless the rename
    // connection replaces the old file after it.
    CurlSlist rename = ListOf(RenameCommands(temporary, final_path, false));
    if (whole && !own_rename) curl_easy_setopt(h, CURLOPT_POSTQUOTE, rename.get());
    curl_easy_setopt(h, CURLOPT_UPLOAD, 1L);
    curl_easy_setopt(h, CURLOPT_READFUNCTION, ReadFromFile);
    curl_easy_setopt(h, CURLOPT_READDATA, file);
    curl_easy_setopt(h, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(size));
    bool ok = Perform();
    curl_easy_setopt(h, CURLOPT_UPLOAD, 0L);
    curl_easy_setopt(h, CURLOPT_READDATA, nullptr);
    curl_easy_setopt(h, CURLOPT_POSTQUOTE, nullptr);
    std::fclose(file);
    // Only a file that arrived whole replaces the old one.
    if (ok && own_rename) ok = Conclude(renamer_->Rename(temporary, final_path), renamer_->Reason());
    // The file arrived whole but the rename was refused: plain SFTP servers (and SFTP
    // servers without a rename that replaces, see RenamesOverOldFiles) and some FTP
    // servers rename only onto a free name. The old file is removed first then, so a
    // reader may miss the file for that moment but never gets half.
    if (!ok && whole && !own_rename && last_error_ == CURLE_QUOTE_ERROR)
        ok = RunCommands(RenameCommands(temporary, final_path, true));
    return ok;
}

bool FtpSession::RenamesOverOldFiles(bool& failed) {
    failed = false;
    if (overwrite_ == Overwrite::NotOffered) return false;
    if (renamer_ && renamer_->IsOpen()) return true;
    if (!renamer_) renamer_ = std::make_unique<SftpRename>();
    const CURLcode code = renamer_->Open(endpoint_);
    if (code == CURLE_PEER_FAILED_VERIFICATION) {
        // Its host key is judged as the transfer session's is, and reported alike.
        ssh_check_ = renamer_->HostCheck();
        failed = !Conclude(code, renamer_->Reason());
        return false;
    }
    if (code != CURLE_OK) {
        // Some servers take one connection per account: this session still publishes,
        // as with a server that lacks the rename (below).
        DIAG("FtpSession", 0, "INF:no second SFTP connection (%s): old files are removed before the rename",
             renamer_->Reason().c_str());
    }
    if (code == CURLE_OK && renamer_->CanOverwrite()) {
        overwrite_ = Overwrite::Offered;
        return true;
    }
    // Without that rename the server can only rename onto a free name: PutFile removes
    // the old file just before (a reader may then miss it for a moment).
    overwrite_ = Overwrite::NotOffered;
    renamer_.reset();
    return false;
}

bool FtpSession::ListNames(const std::string& path, std::vector<std::string>& names) {
    names.clear();
    if (!handle_) {
        return FailLocally(CURLE_FAILED_INIT);
    }
    std::string listing;
    Prepare(FolderUrl(Resolve(current_, path)));
    curl_easy_setopt(handle_.get(), CURLOPT_DIRLISTONLY, 1L);
    curl_easy_setopt(handle_.get(), CURLOPT_WRITEFUNCTION, AppendToText);
    curl_easy_setopt(handle_.get(), CURLOPT_WRITEDATA, &listing);
    const bool ok = Perform();
    curl_easy_setopt(handle_.get(), CURLOPT_WRITEFUNCTION, DiscardBody);
    curl_easy_setopt(handle_.get(), CURLOPT_WRITEDATA, nullptr);
    if (!ok) return false;
    std::istringstream in(listing);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        // Some servers name each entry with the folder listed before it.
        const size_t cut = line.find_last_of('/');
        if (cut != std::string::npos) line.erase(0, cut + 1);
        if (!line.empty() && line != "." && line != "..") names.push_back(line);
    }
    return true;
}

bool FtpSession::GetFile(const std::string& remote_name, const std::string& local_path) {
    if (!handle_) {
        return FailLocally(CURLE_FAILED_INIT);
    }
    FILE* file = std::fopen(local_path.c_str(), "wb");
    if (!file) {
        return FailLocally(CURLE_WRITE_ERROR);
    }
    CURL* h = handle_.get();
    char* escaped = curl_easy_escape(h, remote_name.c_str(), static_cast<int>(remote_name.size()));
    Prepare(FolderUrl(current_) + (escaped ? escaped : ""));
    curl_free(escaped);
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, WriteToFile);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, file);
    const bool ok = Perform();
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, DiscardBody);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, nullptr);
    std::fclose(file);
    return ok;
}
