// The fixture of the batch command's end-to-end tests: a private HOME, the built
// vellumark-batch and engine, generated PDFs, and readers of what a run leaves behind.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <sys/types.h>
#include <utility>
#include <vector>

#include "tests/helpers/TempHome.h"

struct RunResult {
    int code = -1;
    std::string out;
    std::string err;
};

std::pair<int, int> JpegSize(const std::filesystem::path& path);
std::pair<int, int> PngSize(const std::filesystem::path& path);

class BatchE2E : public ::testing::Test {
protected:
    void SetUp() override;

    // A first start sets the user's folders up; then the given keys of config.ini are
    // changed, as the desktop program's dialogs would.
    void Configure(const std::map<std::string, std::string>& keys);
    // `changed_page` (when above 0) gets another heading, as in a corrected edition.
    std::filesystem::path MakePdf(const std::string& name, int pages, const std::string& title = "Generated Book",
                                  int changed_page = 0);
    // `input`, when not empty, is the program's standard input.
    pid_t Start(const std::vector<std::string>& args, const std::string& tag, const std::string& input = "");
    RunResult Finish(pid_t pid, const std::string& tag);
    RunResult Run(const std::vector<std::string>& args, const std::string& tag = "run", const std::string& input = "");

    static std::vector<std::string> Lines(const std::string& text);
    // The job key of a printed index.html path (its folder's name).
    static std::string KeyOf(const std::string& index_path);
    int32_t StoredProgress(const std::string& key);
    // The job sections of meta.ini.
    std::vector<std::string> Keys();
    // The only job section of meta.ini, or empty.
    std::string OnlyKey();
    // The engine command lines stored in the status report.
    std::vector<std::string> CommandRecords();
    std::map<std::string, std::filesystem::file_time_type> Times(const std::filesystem::path& folder);
    void ExpectCompleteBook(const std::filesystem::path& book, int pages);

    TempHome home_;
    std::filesystem::path batch_, books_, data_;
};
