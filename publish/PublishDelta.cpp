#include "publish/PublishDelta.h"

#include "config/DiagLog.h"
#include "config/FileHashCache.h"
#include "publish/BookDataFiles.h"
#include "publish/TileFiles.h"

#include <filesystem>

namespace {
constexpr const char* kModule = "Upload";
}  // namespace

std::string PublishedPdfName(const std::string& pdf_path) {
    const size_t cut = pdf_path.find_last_of("/\\");
    return cut == std::string::npos ? pdf_path : pdf_path.substr(cut + 1);
}

std::vector<PublishedFile> PublishedFiles(const std::string& book_folder, const std::string& pdf_path,
                                          int32_t page_count, bool with_page) {
    std::vector<PublishedFile> files;
    const auto add = [&](const std::string& path) { files.emplace_back(path, book_folder + "/" + path); };
    if (!pdf_path.empty()) files.emplace_back(PublishedPdfName(pdf_path), pdf_path);
    add("thumb/img-1-e-cover.jpg");
    // Books made before the link-preview picture have none.
    if (std::filesystem::exists(book_folder + "/thumb/img-1-e-share.jpg")) add("thumb/img-1-e-share.jpg");
    for (const char* folder : {"100", "HighRes", "MedRes", "LowRes", "print", "thumb"}) {
        const std::string name(folder);
        // A book prints from its print folder only when its page asks for one.
        if (name == "print" && !std::filesystem::exists(book_folder + "/print")) continue;
        const bool single_image = name == "thumb" || name == "print";
        for (int32_t page = 1; page <= page_count; ++page) {
            const std::string stem = name + "/img-" + std::to_string(page);
            if (single_image) {
                add(stem + "-e.jpg");
            } else {
                add(stem + ".jpg");
                add(stem + "-f.png");
            }
        }
    }
    // The sharp zoom's tiles, then their index (books made before the tiles have none).
    if (std::filesystem::exists(book_folder + "/tiles/" + kTileIndexName)) {
        for (const auto& names : TileNamesByPage(book_folder + "/tiles", page_count))
            for (const std::string& name : names) add("tiles/" + name);
        add(std::string("tiles/") + kTileIndexName);
    }
    if (with_page) add("index.html");
    for (const std::string& name : BookDataFiles(book_folder)) add(name);
    return files;
}

bool RememberPublishedHashes(const std::string& book_key, const std::string& book_folder, int32_t page_count) {
    FileHashCache hashes(FileHashCache::OfBook(book_key));
    for (const auto& [path, local] : PublishedFiles(book_folder, "", page_count, false)) hashes.Sha256(path, local);
    return hashes.Save();
}

PublishDelta::PublishDelta(BookManifest local, const std::string& held) : known_(true), local_(std::move(local)) {
    if (held.empty()) return;
    std::string why;
    if (!BookManifest::Parse(held, held_, why)) {
        DIAG(kModule, 0, "INF:the target's manifest is not used (%s): every file is sent", why.c_str());
        held_ = BookManifest{};
    } else if (held_.book_key != local_.book_key) {
        DIAG(kModule, 0, "INF:the target's manifest is of another book: every file is sent");
        held_ = BookManifest{};
    }
}

ManifestEntry PublishDelta::ManifestEntryOf(const std::string& path) const {
    const ManifestEntry* entry = local_.Find(path);
    return entry ? *entry : ManifestEntry{path, -1, {}};
}

std::vector<std::string> PublishDelta::Vanished() const {
    std::vector<std::string> gone;
    if (!known_) return gone;
    for (const ManifestEntry& entry : held_.entries)
        if (!local_.Find(entry.path)) gone.push_back(entry.path);
    return gone;
}
