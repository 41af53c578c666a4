// A private home for one test: HOME and the XDG folders point into a fresh temporary
// folder for the life of the object, so no test ever reads or writes the real ones.
#pragma once

#include <filesystem>
#include <string>

class TempHome {
public:
    TempHome();
    ~TempHome();
    TempHome(const TempHome&) = delete;
    TempHome& operator=(const TempHome&) = delete;

    const std::filesystem::path& Root() const { return root_; }
    std::filesystem::path Home() const { return root_ / "home"; }

private:
    std::filesystem::path root_;
};

// Reads a whole file as bytes; empty when it cannot be read.
std::string ReadFileBytes(const std::filesystem::path& path);
// Writes bytes to a file, creating its folder.
void WriteFileBytes(const std::filesystem::path& path, const std::string& bytes);
// The build's program folder (where rastrix and DefaultCfg/ live).
std::filesystem::path ProgramDir();
// The source tree's root.
std::filesystem::path SourceDir();
