#include "config/CommonUtil.h"

#include <cerrno>
#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

namespace {

int ErrnoOf(const std::error_code& ec)
{
    if (!ec)
        return 0;
    // std::filesystem reports system errors in the generic category on Linux; anything
    // else still has to be a non-zero result.
    return ec.value() != 0 ? ec.value() : EIO;
}

// Copies a file or a folder tree to exactly `target`, replacing existing files.
int CopyEntry(const fs::path& source, const fs::path& target)
{
    std::error_code ec;
    if (target.has_parent_path())
        fs::create_directories(target.parent_path(), ec);
    ec.clear();
    const auto options = fs::copy_options::overwrite_existing | fs::copy_options::recursive;
    if (fs::is_directory(source, ec)) {
        fs::create_directories(target, ec);
        if (ec)
            return ErrnoOf(ec);
    }
    fs::copy(source, target, options, ec);
    return ErrnoOf(ec);
}

// True when `inner` is `outer` or lies inside it: copying a folder there would copy
// the copy again, without end.
bool IsInside(const fs::path& inner, const fs::path& outer)
{
    std::error_code ec;
    const fs::path a = fs::weakly_canonical(inner, ec);
    const fs::path b = fs::weakly_canonical(outer, ec);
    auto ai = a.begin();
    for (auto bi = b.begin(); bi != b.end(); ++bi, ++ai) {
        if (bi->empty())
            continue;  // the empty element after a trailing separator
        if (ai == a.end() || *ai != *bi)
            return false;
    }
    return true;
}

}  // namespace

bool PathExists(const std::string& path)
{
    std::error_code ec;
    return fs::exists(path, ec);
}

bool IsFolder(const std::string& path)
{
    std::error_code ec;
    return fs::is_directory(path, ec);
}

std::string JoinPath(const std::string& folder, const std::string& name)
{
    if (folder.empty() || folder.back() == '/' || folder.back() == '\\')
        return folder + name;
    return folder + "/" + name;
}

int copy_file_or_path(const std::string& destination, const std::string& source, int overwrite,
                      int /*show_progress*/)
{
    if (destination.empty() || source.empty())
        return EINVAL;
    std::error_code ec;
    const fs::path target(destination);
    if (!overwrite && fs::exists(fs::symlink_status(target, ec)))
        return 0;

    // "folder/*": the content of the folder goes into the destination folder.
    if (source.back() == '*') {
        fs::path folder(source.substr(0, source.size() - 1));
        if (folder.empty())
            folder = ".";
        if (!fs::is_directory(folder, ec))
            return ENOENT;
        if (IsInside(target, folder))
            return EINVAL;
        fs::create_directories(target, ec);
        if (!fs::is_directory(target, ec))
            return ec ? ErrnoOf(ec) : ENOTDIR;
        for (const auto& entry : fs::directory_iterator(folder, ec)) {
            if (int rc = CopyEntry(entry.path(), target / entry.path().filename()))
                return rc;
        }
        return ErrnoOf(ec);
    }

    // A trailing separator would leave the source without a file name.
    fs::path from = fs::path(source).lexically_normal();
    while (from.has_relative_path() && !from.has_filename())
        from = from.parent_path();
    if (!fs::exists(from, ec))
        return ec && ec.value() != ENOENT ? ErrnoOf(ec) : ENOENT;
    const fs::path to = fs::is_directory(target, ec) ? target / from.filename() : target;
    if (fs::is_directory(from, ec) && IsInside(to, from))
        return EINVAL;
    return CopyEntry(from, to);
}
