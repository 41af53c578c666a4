#include "publish/UploadPlan.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "config/DiagLog.h"
#include "config/FileHashCache.h"
#include "publish/BookDataFiles.h"
#include "publish/PublishControl.h"
#include "publish/PublishDelta.h"
#include "publish/RetryPolicy.h"
#include "publish/TileFiles.h"

namespace {
constexpr const char* kModule = "Upload";
constexpr int32_t kFileAttempts = 2;  // on top of the retries inside each transport

std::string JoinFolder(const std::string& folder, const std::string& name) {
    if (!folder.empty() && (folder.back() == '/' || folder.back() == '\\')) return folder + name;
    return folder + "/" + name;
}

std::string FinalComponent(const std::string& path) {
    const size_t cut = path.find_last_of("/\\");
    return cut == std::string::npos ? path : path.substr(cut + 1);
}

// True when the target already holds the file that `local_path` would become in `subdir`
// of the book folder, byte for byte: it is not sent again.
bool HeldUnchanged(const PublishDelta* delta, const std::string& local_path, const std::string& subdir) {
    const std::string name = FinalComponent(local_path);
    return delta && delta->Unchanged(subdir.empty() ? name : subdir + "/" + name);
}

// Sends `local_path` at most twice; -1 when a stop comes first, 0 sent, 1 failed.
int32_t SendWithAttempts(Uploader& uploader, const std::string& local_path, const std::string& job_key,
                         const std::string& subdir, const PublishDelta* delta) {
    if (HeldUnchanged(delta, local_path, subdir)) return kPlanPublished;
    uploader.StopAtMark();
    for (int32_t attempt = 0; attempt < kFileAttempts; ++attempt) {
        if (retry::StopRequested(uploader.JobState())) return kPlanStopped;
        if (upload_one_file(uploader, local_path, job_key, subdir)) return kPlanPublished;
    }
    return kPlanFailed;
}

// Enters the image folder `subdir` of the book on the FTP server, creating it when new.
bool EnterFtpSubfolder(Uploader& uploader, const std::string& job_key, const std::string& subdir) {
    // After a resume that skipped the folder preparation the session still stands in the
    // login folder: without the book folder nothing can be sent.
    if (uploader.WorkingFolder().empty() && !uploader.GotoGuidFtpDir(job_key)) {
        DIAG(kModule, 0, "ERR:GotoGuidFtpDir failed");
        return false;
    }
    FtpSession& ftp = uploader.Ftp();
    if (ftp.ChangeFolder(subdir)) return true;
    if (!ftp.MakeFolder(subdir)) {
        DIAG(kModule, ftp.DiagCode(), "ERR:FtpCreateDirectory failed");
        return false;
    }
    if (!ftp.ChangeFolder(subdir)) {
        DIAG(kModule, ftp.DiagCode(), "ERR:FtpSetCurrentDirectory failed");
        return false;
    }
    return true;
}
}  // namespace

bool upload_one_file(Uploader& uploader, const std::string& local_path, const std::string& job_key,
                     const std::string& subdir) {
    if (uploader.HttpOn() && !uploader.upload_one_file_http(local_path, job_key, subdir)) {
        DIAG(kModule, 0, "INF:upload_one_file_http failede");
        return false;
    }
    if (uploader.FtpOn() && !uploader.upload_one_file_ftp(local_path, subdir)) {
        DIAG(kModule, 0, "ERR:upload_one_file_ftp failed");
        return false;
    }
    return true;
}

int32_t upload_pdf_file(Uploader& uploader, const std::string& pdf_path, const std::string& job_key,
                        const PublishDelta* delta) {
    if (HeldUnchanged(delta, pdf_path, "")) return kPlanPublished;
    return upload_one_file(uploader, pdf_path, job_key, "") ? kPlanPublished : kPlanFailed;
}

int32_t handle_subdir(Uploader& uploader, const std::string& book_folder, const std::string& job_key,
                      const std::string& subdir, int32_t page_count, int32_t start_mark,
                      std::atomic<int32_t>* progress, int32_t span, const PublishDelta* delta) {
    int32_t result = kPlanPublished;
    const std::string local_folder = JoinFolder(book_folder, subdir);
    // A book prints from its print folder only when its page asks for one; books made
    // before the sharp zoom's tiles have none.
    if (subdir == "print" && !std::filesystem::exists(local_folder)) return kPlanPublished;
    const bool tiles = subdir == "tiles";
    if (tiles && !std::filesystem::exists(JoinFolder(local_folder, kTileIndexName))) return kPlanPublished;
    if (uploader.FtpOn() && !EnterFtpSubfolder(uploader, job_key, subdir)) return kPlanFailed;
    const std::vector<std::vector<std::string>> tile_names =
        tiles ? TileNamesByPage(local_folder, page_count) : std::vector<std::vector<std::string>>();

    const bool single_image = subdir == "thumb" || subdir == "print";
    if (subdir == "thumb" && (!progress || progress->load() <= start_mark)) {
        for (const char* picture : {"img-1-e-cover.jpg", "img-1-e-share.jpg"}) {
            const std::string path = JoinFolder(local_folder, picture);
            // Books made before the link-preview picture have only the cover.
            if (std::string(picture) == "img-1-e-share.jpg" && !std::filesystem::exists(path)) continue;
            const int32_t sent = SendWithAttempts(uploader, path, job_key, subdir, delta);
            if (sent == kPlanStopped) return kPlanStopped;
            if (sent != kPlanPublished) {
                DIAG(kModule, 0, "ERR:unable to upload %s", picture);
                return kPlanFailed;
            }
        }
    }

    int32_t first_page = 1;
    if (progress && progress->load() >= 0 && span > 0)
        first_page = (progress->load() - start_mark) * page_count / span + 1;
    if (first_page < 1) first_page = 1;
    for (int32_t page = first_page; page <= page_count; ++page) {
        if (tiles) {
            // A page's tiles; a page without text has none.
            for (const std::string& name : tile_names[static_cast<size_t>(page - 1)]) {
                const int32_t sent = SendWithAttempts(uploader, JoinFolder(local_folder, name), job_key, subdir, delta);
                if (sent == kPlanStopped) return kPlanStopped;
                if (sent != kPlanPublished) {
                    DIAG(kModule, 0, "ERR:unable to upload page%d", page);
                    return kPlanFailed;
                }
            }
            if (progress && page_count > 0) progress->store(start_mark + page * span / page_count);
            continue;
        }
        const std::string stem = JoinFolder(local_folder, "img-" + std::to_string(page));
        const int32_t sent = SendWithAttempts(uploader, stem + (single_image ? "-e.jpg" : ".jpg"), job_key, subdir, delta);
        if (sent == kPlanStopped) return kPlanStopped;
        if (sent != kPlanPublished) {
            DIAG(kModule, 0, "ERR:unable to upload page%d", page);
            return kPlanFailed;
        }
        if (!single_image) {
            // A missing foreground layer fails the folder, but only after every page was tried.
            const int32_t layer = SendWithAttempts(uploader, stem + "-f.png", job_key, subdir, delta);
            if (layer == kPlanStopped) return kPlanStopped;
            if (layer != kPlanPublished) {
                DIAG(kModule, 0, "ERR:unable to upload page%d", page);
                result = kPlanFailed;
            }
        }
        // The mark names the pages sent so far, counted from the stage's start (not from
        // where this run began, which would overshoot the stage on a resume). Once a page
        // has failed the mark stays before it, so that a resume sends it again.
        if (progress && page_count > 0 && result == kPlanPublished)
            progress->store(start_mark + page * span / page_count);
    }

    // The index last, so that it never names a tile the target does not hold yet.
    if (tiles) {
        const int32_t sent = SendWithAttempts(uploader, JoinFolder(local_folder, kTileIndexName), job_key, subdir, delta);
        if (sent != kPlanPublished) return sent;
    }
    if (uploader.FtpOn() && !uploader.Ftp().ChangeFolder("..")) {
        DIAG(kModule, uploader.Ftp().DiagCode(), "ERR:FtpSetCurrentDirectory failed");
        return kPlanFailed;  // the next stage would land in the wrong folder
    }
    return result;
}

int32_t upload_static_html(Uploader& uploader, const std::string& book_folder, const std::string& job_key,
                           const PublishDelta* delta) {
    if (uploader.FtpOn()) {
        if (uploader.WorkingFolder().empty() && !uploader.GotoGuidFtpDir(job_key)) return kPlanFailed;
        // The service makes the book's page itself: index.html goes by FTP only.
        const std::string page = JoinFolder(book_folder, "index.html");
        if (!HeldUnchanged(delta, page, "") && !uploader.upload_one_file_ftp(page, "")) {
            DIAG(kModule, 0, "upload_one_file_ftp failed");
            return kPlanFailed;
        }
    }
    for (const std::string& name : BookDataFiles(book_folder)) {
        const std::string path = JoinFolder(book_folder, name);
        if (!HeldUnchanged(delta, path, "") && !upload_one_file(uploader, path, job_key, "")) {
            DIAG(kModule, 0, "upload_one_file failed");
            return kPlanFailed;
        }
    }
    return kPlanPublished;
}

namespace {
// A private folder in the temporary folder, removed with its contents when the object goes.
class ScratchFolder {
public:
    ScratchFolder() {
        std::error_code error;
        std::string pattern = (std::filesystem::temp_directory_path(error) / "vellumark-manifest-XXXXXX").string();
        if (mkdtemp(pattern.data())) path_ = pattern;
    }
    ~ScratchFolder() {
        std::error_code error;
        if (!path_.empty()) std::filesystem::remove_all(path_, error);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    const std::filesystem::path& Path() const { return path_; }

private:
    std::filesystem::path path_;
};

// A manifest larger than this is not one of ours (a 1,000-page book's is about 250 KB).
constexpr std::uintmax_t kMaxManifestBytes = 8 * 1024 * 1024;

// The text of the manifest the FTP target holds in the book folder; empty when it holds
// none (or it cannot be fetched: then every file is sent, as for a new book).
std::string HeldManifestFtp(Uploader& uploader, const std::string& job_key) {
    ScratchFolder scratch;
    if (scratch.Path().empty() || (uploader.WorkingFolder().empty() && !uploader.GotoGuidFtpDir(job_key))) return {};
    const std::filesystem::path copy = scratch.Path() / BookManifest::kFileName;
    if (!uploader.Ftp().GetFile(BookManifest::kFileName, copy.string())) return {};
    std::error_code error;
    if (std::filesystem::file_size(copy, error) > kMaxManifestBytes || error) return {};
    std::ifstream in(copy, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The book's files compared with what the target holds of it.
PublishDelta CompareWithTarget(Uploader& uploader, const std::string& job_key, const std::string& folder,
                               const std::string& pdf_path, int32_t page_count) {
    BookManifest local;
    std::string why;
    FileHashCache hashes(FileHashCache::OfBook(job_key));
    if (!BookManifest::OfFiles(job_key, PublishedFiles(folder, pdf_path, page_count, uploader.FtpOn()), local, why,
                               &hashes)) {
        DIAG(kModule, 0, "INF:no manifest of the book (%s): every file is sent", why.c_str());
        return {};
    }
    if (!hashes.Save()) DIAG(kModule, errno, "INF:the file hashes of %s were not kept", job_key.c_str());
    std::string held;
    if (uploader.FtpOn()) held = HeldManifestFtp(uploader, job_key);
    // A service that keeps no manifests answers with an error: every file is sent.
    else if (uploader.HttpOn() && !uploader.FetchManifestHttp(job_key, held)) held.clear();
    PublishDelta delta(std::move(local), held);
    const auto unchanged = std::count_if(delta.Local().entries.begin(), delta.Local().entries.end(),
                                         [&](const ManifestEntry& entry) { return delta.Held().Holds(entry); });
    DIAG(kModule, 0, "INF:%zu of %zu files unchanged on the target, not sent", static_cast<size_t>(unchanged),
         delta.Local().entries.size());
    return delta;
}

// Writes `text` as the manifest file into a scratch folder; its path, or empty.
std::filesystem::path WriteManifest(const ScratchFolder& scratch, const std::string& text) {
    if (scratch.Path().empty()) return {};
    const std::filesystem::path manifest = scratch.Path() / BookManifest::kFileName;
    std::ofstream out(manifest, std::ios::binary);
    out << text;
    out.close();
    return out ? manifest : std::filesystem::path();
}

// The largest manifest sent inside the commit message; a larger one goes as a file first.
constexpr size_t kMaxInlineManifest = 900 * 1024;

// Ends a staged publication on the service: the service checks the staged book against
// the manifest, removes what the book no longer has and switches readers to the new
// book in one step. 0 done, 1 failed (the live book stays as it was).
int32_t CommitOnService(Uploader& uploader, const PublishDelta& delta, const std::string& job_key) {
    if (!delta.Known()) {
        DIAG(kModule, 0, "ERR:no manifest of the book: the update cannot be committed");
        return kPlanFailed;
    }
    std::string text = delta.Local().Text();
    if (text.size() > kMaxInlineManifest) {
        ScratchFolder scratch;
        const std::filesystem::path manifest = WriteManifest(scratch, text);
        if (manifest.empty() || !upload_one_file(uploader, manifest.string(), job_key, "")) return kPlanFailed;
        text.clear();  // the service reads the manifest sent into the stage
    }
    if (!uploader.CommitUpdateHttp(job_key, text)) {
        DIAG(kModule, 0, "ERR:the service did not take the update of %s", job_key.c_str());
        return kPlanFailed;
    }
    return kPlanPublished;
}

// Ends a publication on the FTP target: removes the files an earlier publication put
// there that the book no longer has, then stores the manifest, last, so that a manifest
// on the server always describes files that are there. A file that cannot be removed
// stays listed, so that the next publication tries again. 0 done, 1 failed.
int32_t FinishOnFtp(Uploader& uploader, const PublishDelta& delta, const std::string& job_key) {
    if (!delta.Known()) return kPlanPublished;
    if (uploader.WorkingFolder().empty() && !uploader.GotoGuidFtpDir(job_key)) return kPlanFailed;
    BookManifest written = delta.Local();
    for (const std::string& path : delta.Vanished()) {
        if (uploader.Ftp().RemoveFile(path)) continue;
        DIAG(kModule, uploader.Ftp().DiagCode(), "INF:%s not removed; the next publication tries again", path.c_str());
        written.Insert(*delta.Held().Find(path));
    }
    // The target holds this very manifest already: nothing changed.
    if (written.Text() == delta.Held().Text()) return kPlanPublished;
    ScratchFolder scratch;
    const std::filesystem::path manifest = WriteManifest(scratch, written.Text());
    if (manifest.empty() || !uploader.upload_one_file_ftp(manifest.string(), "")) {
        DIAG(kModule, 0, "ERR:the book's manifest was not stored");
        return kPlanFailed;
    }
    return kPlanPublished;
}
// Removes the temporary files that runs killed in mid-file left in the book's folders on
// the FTP target (every file is written under a temporary name and then renamed). What
// cannot be listed or removed stays for the next publication; the book is whole anyway.
void RemoveLeftoverParts(Uploader& uploader, const std::string& job_key) {
    if (uploader.WorkingFolder().empty() && !uploader.GotoGuidFtpDir(job_key)) return;
    FtpSession& ftp = uploader.Ftp();
    std::vector<std::string> folders = {uploader.WorkingFolder()};
    for (const FolderStage& stage : kFolderStages) folders.push_back(FtpSession::Resolve(folders[0], stage.folder));
    for (const std::string& folder : folders) {
        std::vector<std::string> names;
        if (!ftp.ListNames(folder, names)) continue;
        for (const std::string& name : names) {
            if (FtpSession::IsTemporaryName(name) && !ftp.RemoveFile(FtpSession::Resolve(folder, name)))
                DIAG(kModule, ftp.DiagCode(), "INF:%s/%s not removed", folder.c_str(), name.c_str());
        }
    }
}
}  // namespace

int32_t UploadBook(Uploader& uploader, const std::string& pdf_path, const std::string& book_folder,
                   int32_t page_count, int32_t upload_pdf, bool commit_stage) {
    // The same state and progress the uploader's transports poll and advance.
    const PublishControl control{uploader.JobState(), uploader.Progress()};

    control.MarkUploading();
    std::string folder = book_folder;
    while (!folder.empty() && (folder.back() == '/' || folder.back() == '\\')) folder.pop_back();
    const std::string job_key = folder.size() >= 32 ? folder.substr(folder.size() - 32) : folder;

    if (uploader.FtpOn() && control.Mark() < kMarkFoldersDone) {
        const int32_t prepared = uploader.PrepareFtpDir(job_key, kMarkFoldersStart, kMarkFoldersDone - kMarkFoldersStart);
        if (prepared != 0) {
            DIAG(kModule, 0, "PrepareFtpDir failed, ret=%d", prepared);
            return kPlanFailed;
        }
    }
    if (control.StopRequested()) return kPlanStopped;
    const PublishDelta delta =
        CompareWithTarget(uploader, job_key, folder, upload_pdf > 0 ? pdf_path : std::string(), page_count);

    if (control.Mark() < kMarkPdfDone && upload_pdf > 0) {
        if (control.StopRequested()) return kPlanStopped;
        if (upload_pdf_file(uploader, pdf_path, job_key, &delta) != kPlanPublished) {
            DIAG(kModule, 0, "upload_pdf_file failed");
            return kPlanFailed;
        }
        control.SetMark(kMarkPdfDone);
    }

    control.RaiseMark(kFolderStages[0].start_mark);
    for (const FolderStage& stage : kFolderStages) {
        if (control.StopRequested()) return kPlanStopped;
        if (control.Mark() >= stage.end_mark()) continue;
        const int32_t result =
            handle_subdir(uploader, folder, job_key, stage.folder, page_count, stage.start_mark, control.progress,
                          stage.span, &delta);
        if (result != kPlanPublished) {
            if (&stage == &kFolderStages[0]) DIAG(kModule, 0, "ERR:handle_subdir failed");
            else DIAG(kModule, 0, "handle_subdir failed");
            return result;
        }
        control.SetMark(stage.end_mark());
    }

    if (control.StopRequested()) return kPlanStopped;
    if (control.Mark() < kMarkStaticDone) {
        if (upload_static_html(uploader, folder, job_key, &delta) != kPlanPublished) {
            DIAG(kModule, 0, "upload_static_html failed");
            return kPlanFailed;
        }
        control.SetMark(kMarkStaticDone);
    }
    if (control.StopRequested()) return kPlanStopped;
    if (uploader.FtpOn()) {
        if (FinishOnFtp(uploader, delta, job_key) != kPlanPublished) return kPlanFailed;
        RemoveLeftoverParts(uploader, job_key);
    }
    if (uploader.HttpOn() && commit_stage && CommitOnService(uploader, delta, job_key) != kPlanPublished)
        return kPlanFailed;
    return kPlanPublished;
}
