#include "pipeline/BookUpdate.h"

#include "config/AppConfig.h"
#include "config/CommonUtil.h"
#include "config/JobKey.h"
#include "pipeline/JobSection.h"
#include "pipeline/PdfJob.h"

#include <filesystem>

namespace fs = std::filesystem;

namespace {
// Where the old book waits while the update takes its place.
std::string OldFolder(const std::string& books_folder, const std::string& key)
{
    return JoinPath(books_folder, ".replaced-" + key);
}
}  // namespace

std::string UpdateFolder(const std::string& books_folder, const std::string& key)
{
    return JoinPath(books_folder, ".update-" + key);
}

std::string UpdateSourceFolder(const std::string& books_folder, const std::string& key, int32_t progress)
{
    // The replacement comes after the conversion: before that the update's folder is the
    // one to fill, even when a crash took it.
    std::error_code error;
    if (progress < kProgressPrintDone || fs::exists(UpdateFolder(books_folder, key), error))
        return UpdateFolder(books_folder, key);
    return JoinPath(books_folder, key);
}

std::string PrepareBookUpdate(AppConfig& cfg, const std::string& key, const std::string& pdf_path, int32_t pagenum,
                              int32_t pagewidth, int32_t pageheight)
{
    IniFile& meta = cfg.m_meta_ini;
    if (!IsJobKey(key) || meta.ReadText(key, "pdf_url", kJobPathBytes).empty())
        return "no book with this key";
    if (!IsFinished(meta, key) && meta.ReadInt(key, kUpdatePendingKey) != 1)
        return "the book is not finished; resume it with --resume";
    if (std::string reason = UnstorablePathReason(pdf_path); !reason.empty())
        return "the new PDF cannot be used: " + reason;
    if (pagenum < 1 || pagewidth < 1 || pageheight < 1)
        return "the engine cannot read the new PDF";
    // A stopped update that is started again converts from the beginning.
    std::error_code error;
    fs::remove_all(UpdateFolder(cfg.m_books_folder, key), error);
    const bool ok = meta.WriteText(key, "pdf_url", pdf_path) && meta.WriteInt(key, "pagenum", pagenum) &&
                    meta.WriteInt(key, "pagewidth", pagewidth) && meta.WriteInt(key, "pageheight", pageheight) &&
                    meta.WriteInt(key, kUpdatePendingKey, 1) && WriteJobProgress(meta, key, 0);
    return ok ? std::string() : "the job list cannot be written";
}

bool ReplaceBookWithUpdate(IniFile& meta, const std::string& books_folder, const std::string& key, std::string& why)
{
    const fs::path book = JoinPath(books_folder, key);
    const fs::path update = UpdateFolder(books_folder, key);
    const fs::path old = OldFolder(books_folder, key);
    std::error_code error;
    // Each step is done only when the one before it is: after a crash the folders that
    // exist tell how far it came.
    if (fs::exists(update, error)) {
        if (fs::exists(book, error)) {
            fs::remove_all(old, error);
            fs::rename(book, old, error);
            if (error) {
                why = "the book folder cannot be moved aside: " + error.message();
                return false;
            }
        }
        fs::rename(update, book, error);
        if (error) {
            why = "the updated book cannot be moved into place: " + error.message();
            return false;
        }
    }
    fs::remove_all(old, error);
    meta.WriteInt(key, kUpdatePendingKey, 0);
    return true;
}
