#include "publish/FtpSession.h"

#include "config/DiagLog.h"

#include <cstdio>
#include <sstream>
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

size_t ReadFromFile(char* data, size_t size, size_t count, void* user) {
    return std::fread(data, size, count, static_cast<FILE*>(user)) * size;
}

FtpFailure Classify(CURLcode code) {
    switch (code) {
        case CURLE_OK:
            return FtpFailure::None;
        case CURLE_OPERATION_TIMEDOUT:
            return FtpFailure::TimedOut;
        case CURLE_SEND_ERROR:
        case CURLE_RECV_ERROR:
        case CURLE_GOT_NOTHING:
            return FtpFailure::Reset;
        default:
            return FtpFailure::Other;
    }
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
    std::string url = "ftp://" + endpoint_.host + ":" + std::to_string(endpoint_.port) + "/%2F";
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
    curl_easy_setopt(h, CURLOPT_READDATA, nullptr);
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, DiscardBody);
    curl_easy_setopt(h, CURLOPT_URL, url.c_str());
    headers_.clear();
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

bool FtpSession::Perform() {
    const CURLcode code = RunTransfer();
    last_error_ = static_cast<int32_t>(code);
    last_failure_ = Classify(code);
    if (code == CURLE_OK) {
        last_reply_.clear();
        return true;
    }
    last_reply_ = LastLine(headers_);
    // A refusal is explained by the server's reply; a broken or silent connection by
    // the library's description (the last reply then predates the failure).
    const bool refused = last_failure_ == FtpFailure::Other && !last_reply_.empty();
    DiagLog::Instance().SetLastServerResponse(refused ? last_reply_ : std::string(curl_easy_strerror(code)));
    return false;
}

bool FtpSession::FailLocally(int32_t code) {
    last_failure_ = FtpFailure::Other;
    last_error_ = code;
    last_reply_.clear();
    DiagLog::Instance().SetLastServerResponse(curl_easy_strerror(static_cast<CURLcode>(code)));
    return false;
}

bool FtpSession::Open(const FtpEndpoint& endpoint) {
    EnsureCurlGlobalInit();
    Close();
    endpoint_ = endpoint;
    multi_.reset(curl_multi_init());
    handle_.reset(curl_easy_init());
    if (!handle_ || !multi_) {
        return FailLocally(CURLE_FAILED_INIT);
    }
    CURL* h = handle_.get();
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    UseConfiguredAuthorities(h);
    curl_easy_setopt(h, CURLOPT_USERNAME, endpoint.user.c_str());
    curl_easy_setopt(h, CURLOPT_PASSWORD, endpoint.password.c_str());
    curl_easy_setopt(h, CURLOPT_ACCEPTTIMEOUT_MS, static_cast<long>(NetTimeoutMs(endpoint.timeout_ms)));
    curl_easy_setopt(h, CURLOPT_FTP_FILEMETHOD, static_cast<long>(CURLFTPMETHOD_SINGLECWD));
    curl_easy_setopt(h, CURLOPT_FTPPORT, endpoint.passive ? nullptr : endpoint.active_address.c_str());
    curl_easy_setopt(h, CURLOPT_TRANSFERTEXT, 0L);
    curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, CollectHeader);
    curl_easy_setopt(h, CURLOPT_HEADERDATA, &headers_);
    // Logging in: curl sends USER, PASS and PWD; the PWD reply names the login folder.
    Prepare("ftp://" + endpoint.host + ":" + std::to_string(endpoint.port) + "/");
    curl_easy_setopt(h, CURLOPT_NOBODY, 1L);
    if (!Perform()) {
        Close();
        return false;
    }
    const std::string folder = FolderFrom257(headers_);
    login_folder_ = !folder.empty() && folder[0] == '/' ? folder : std::string(1, '/');
    current_ = login_folder_;
    return true;
}

void FtpSession::Close() {
    handle_.reset();
    multi_.reset();  // closes the kept connection
}

bool FtpSession::RunCommand(const std::string& command) {
    if (!handle_) {
        return FailLocally(CURLE_FAILED_INIT);
    }
    Prepare(FolderUrl(current_));
    CurlSlist list(curl_slist_append(nullptr, command.c_str()));
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
    // With no body requested, curl changes into the folder of the address and stops.
    Prepare(FolderUrl(target));
    curl_easy_setopt(handle_.get(), CURLOPT_NOBODY, 1L);
    if (!Perform()) return false;
    current_ = target;
    return true;
}

// Folder commands name the folder by its absolute path: the server's own current folder
// on a reused connection need not be the one tracked here.
bool FtpSession::MakeFolder(const std::string& name) { return RunCommand("MKD " + Resolve(current_, name)); }

bool FtpSession::RemoveFolder(const std::string& name) { return RunCommand("RMD " + Resolve(current_, name)); }

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
    CURL* h = handle_.get();
    char* escaped = curl_easy_escape(h, remote_name.c_str(), static_cast<int>(remote_name.size()));
    Prepare(FolderUrl(current_) + (escaped ? escaped : ""), size);
    curl_free(escaped);
    curl_easy_setopt(h, CURLOPT_UPLOAD, 1L);
    curl_easy_setopt(h, CURLOPT_READFUNCTION, ReadFromFile);
    curl_easy_setopt(h, CURLOPT_READDATA, file);
    curl_easy_setopt(h, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(size));
    const bool ok = Perform();
    curl_easy_setopt(h, CURLOPT_UPLOAD, 0L);
    curl_easy_setopt(h, CURLOPT_READDATA, nullptr);
    std::fclose(file);
    return ok;
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
