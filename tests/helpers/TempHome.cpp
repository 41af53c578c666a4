#include "tests/helpers/TempHome.h"

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <unistd.h>

namespace fs = std::filesystem;

TempHome::TempHome()
{
    std::string pattern = (fs::temp_directory_path() / "vellumark-test-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        throw std::runtime_error("cannot create a temporary folder");
    root_ = pattern;
    for (const char* sub : {"home", "home/Documents", "data", "config", "runtime", "shared"})
        fs::create_directories(root_ / sub);
    setenv("HOME", (root_ / "home").c_str(), 1);
    setenv("XDG_DATA_HOME", (root_ / "data").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (root_ / "config").c_str(), 1);
    setenv("XDG_CACHE_HOME", (root_ / "home/.cache").c_str(), 1);
    setenv("XDG_RUNTIME_DIR", (root_ / "runtime").c_str(), 1);
    setenv("XDG_DATA_DIRS", (root_ / "shared").c_str(), 1);
    setenv("XDG_DOCUMENTS_DIR", (root_ / "home/Documents").c_str(), 1);
    // Nor the user's session bus: its secret store would receive the tests' passwords.
    unsetenv("DBUS_SESSION_BUS_ADDRESS");
}

TempHome::~TempHome()
{
    std::error_code ec;
    if (!std::getenv("VELLUMARK_KEEP_TEST_FILES"))
        fs::remove_all(root_, ec);
}

std::string ReadFileBytes(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFileBytes(const fs::path& path, const std::string& bytes)
{
    if (path.has_parent_path())
        fs::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

fs::path ProgramDir()
{
    const char* dir = std::getenv("VELLUMARK_PROGRAM_DIR");
    return dir ? fs::path(dir) : fs::path(VELLUMARK_TEST_PROGRAM_DIR);
}

fs::path SourceDir()
{
    return fs::path(VELLUMARK_TEST_SOURCE_DIR);
}
