// Preparing a book's remote folders: the failure marker, the shared skin files and the
// shared template files, then the book's own folder.
#include "publish/Uploader.h"

#include "config/DiagLog.h"
#include "publish/RetryPolicy.h"
#include "publish/SkinList.h"

#include <filesystem>
#include <fstream>
#include <sstream>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {
constexpr const char* kModule = "Upload";
constexpr const char* kFailureMarker = "FAILED_UPDATE_SKIN";
constexpr int32_t kFailureTailWaitMs = 16000;

bool ReadWhole(const std::string& path, std::string& out) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream buffer;
    buffer << in.rdbuf();
    out = buffer.str();
    return true;
}

// A private file name in the temporary folder for a download, removed again by its owner.
std::string TempDownloadPath() {
    std::error_code ec;
    const fs::path dir = fs::temp_directory_path(ec);
    static std::atomic<uint32_t> counter{0};
    return (dir / ("vellumark-skin-" + std::to_string(getpid()) + "-" + std::to_string(counter++))).string();
}

std::string SkinNumber(const std::string& skin_subdir) {
    const size_t slash = skin_subdir.find('/');
    return slash == std::string::npos ? std::string() : skin_subdir.substr(slash + 1);
}
}  // namespace

bool Uploader::SkinIsCurrent(const std::string& skin_script, size_t local_size) {
    const std::string probe = TempDownloadPath();
    std::error_code ec;
    const std::string last_name = LastQuotedName(skin_script);
    const bool have_last = !last_name.empty() && ftp_.GetFile(last_name, probe);
    fs::remove(probe, ec);
    if (!have_last) return false;
    const bool have_script = ftp_.GetFile("skin.js", probe);
    const auto remote_size = fs::file_size(probe, ec);
    const bool same = have_script && !ec && remote_size == local_size;
    fs::remove(probe, ec);
    return same;
}

bool Uploader::SendSkinFiles(const std::string& skin_script, const std::string& local_skin_folder) {
    const int32_t tries = TryTimes();
    for (const std::string& name : QuotedListItems(skin_script)) {
        if (retry::StopRequested(job_state_)) return false;
        const std::string local = local_skin_folder + name;
        FtpFailure last = FtpFailure::None;
        bool stored = false;
        for (int32_t attempt = 0; attempt < tries && !stored; ++attempt) {
            if (ftp_.PutFile(local, name)) {
                stored = true;
                break;
            }
            last = ftp_.LastFailure();
            if (!IsRetryable(last)) break;  // retrying a refused put does not help
            ftp_.Close();
            if (!retry::WaitUnlessStopped(retry::DelayMs(attempt), job_state_) || !ConnectFtp()) return false;
            DIAG(kModule, 0, "INF:ftp timeout! reconnecting. Into dir %s", working_folder_.c_str());
            if (!ftp_.ChangeFolder(working_folder_) || !ftp_.ChangeFolder(settings_.skin_subdir)) {
                DIAG(kModule, ftp_.DiagCode(), "ERR:FtpSetCurrentDirectory failed! reconnecting. Into dir %s",
                     working_folder_.c_str());
                return false;
            }
        }
        if (!stored) {
            // A skin file missing on the server breaks every book that uses the skin.
            if (last == FtpFailure::TimedOut)
                DIAG(kModule, 0, "ERR:failed to connect to ftp server reconnecting. Into dir %s",
                     working_folder_.c_str());
            else
                DIAG(kModule, ftp_.DiagCode(), "ERR:FtpPutFile faild, %s", local.c_str());
            return false;
        }
    }
    return true;
}

bool Uploader::SendTemplateFiles() {
    const std::string folder = settings_.books_folder + "/";
    struct Shared { const char* name; bool optional; };
    static constexpr Shared kFiles[] = {
        {"index.js", false}, {"service.asp", true}, {"print.html", true}, {"RurovOzeza.v1.css", false}};
    for (const Shared& file : kFiles) {
        const std::string local = folder + file.name;
        std::error_code ec;
        if (file.optional && !fs::exists(local, ec)) {
            DIAG(kModule, 0, "%s missing", file.name);
            continue;
        }
        if (!ftp_.PutFile(local, file.name)) {
            DIAG(kModule, ftp_.DiagCode(), "ERR:FtpPutFile faild, %s", local.c_str());
            return false;
        }
    }
    return true;
}

int32_t Uploader::FailureTail() {
    ftp_.Close();
    // The wait ends early on a stop request; the marker is still left when possible.
    retry::WaitUnlessStopped(kFailureTailWaitMs, job_state_);
    if (ConnectFtp() && ftp_.ChangeFolder(working_folder_)) ftp_.MakeFolder(kFailureMarker);
    return 1;
}

int32_t Uploader::PrepareFtpDir(const std::string& job_key, int32_t stage_start, int32_t stage_span) {
    if (!SetupFirstFtpDir()) {
        DIAG(kModule, 0, "ERR:SetupFirstFtpDir failed");
        return 1;
    }
    // A marker left by an earlier failed run forces the skin to be checked afresh.
    const bool marker_left = !ftp_.MakeFolder(kFailureMarker);
    ftp_.RemoveFolder(kFailureMarker);
    if (marker_left) ftp_.RemoveFolder("skins");

    if (!ftp_.MakeFolder("skins")) DIAG(kModule, 0, "INF:skins already exists");
    if (!ftp_.ChangeFolder("skins")) {
        DIAG(kModule, ftp_.DiagCode(), "ERR:FtpSetCurrentDirectory failed");
        return FailureTail();
    }
    const std::string skin_number = SkinNumber(settings_.skin_subdir);
    if (!ftp_.MakeFolder(skin_number)) DIAG(kModule, 0, "INF:%s exists.", skin_number.c_str());
    if (!ftp_.ChangeFolder(skin_number)) {
        DIAG(kModule, ftp_.DiagCode(), "ERR:FtpSetCurrentDirectory failed");
        return FailureTail();
    }
    const std::string local_skin_folder = settings_.books_folder + "/skins/" + skin_number + "/";
    std::string skin_script;
    if (!ReadWhole(local_skin_folder + "skin.js", skin_script)) return FailureTail();

    const bool current = SkinIsCurrent(skin_script, skin_script.size());
    if (!current && !SendSkinFiles(skin_script, local_skin_folder)) return FailureTail();
    if (!ftp_.ChangeFolder("../..")) {
        DIAG(kModule, ftp_.DiagCode(), "ERR:FtpSetCurrentDirectory failed! reconnecting. Into dir %s",
             working_folder_.c_str());
        return FailureTail();
    }
    if (!current) {
        if (!SendTemplateFiles()) return FailureTail();
        if (progress_) progress_->store(stage_start + stage_span);
    }
    if (!GotoGuidFtpDir(job_key)) {
        DIAG(kModule, 0, "ERR:GotoGuidFtpDir failed");
        return FailureTail();
    }
    return 0;
}
