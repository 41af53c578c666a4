// Publishes one converted book folder to an FTP server with the upload plan, the way a
// job does after its conversion, and prints the seconds it took. Used by run.sh.
//   publish_bench BOOK_FOLDER BOOKS_FOLDER PORT REMOTE_FOLDER
#include "config/CommonUtil.h"
#include "publish/UploadPlan.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>

int main(int argc, char** argv) {
    if (argc != 5) {
        std::fprintf(stderr, "usage: publish_bench BOOK_FOLDER BOOKS_FOLDER PORT REMOTE_FOLDER\n");
        return 2;
    }
    const std::string book = argv[1];
    int32_t pages = 0;
    while (std::filesystem::exists(book + "/thumb/img-" + std::to_string(pages + 1) + "-e.jpg")) ++pages;
    PublishSettings settings;
    settings.books_folder = argv[2];
    std::atomic<int32_t> progress{kMarkFoldersStart};
    std::atomic<int32_t> state{0};
    const auto start = std::chrono::steady_clock::now();
    Uploader uploader(&progress, &state, settings);
    uploader.SetFtpTarget(std::string("127.0.0.1/") + argv[4], "alice", "secret", 1, std::stoi(argv[3]));
    if (!uploader.ConnectFtp()) {
        std::fprintf(stderr, "publish_bench: cannot log in\n");
        return 1;
    }
    const int32_t result = UploadBook(uploader, "", book, pages, 0);
    uploader.CloseAll();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (result != kPlanPublished) {
        std::fprintf(stderr, "publish_bench: the upload failed (%d)\n", result);
        return 1;
    }
    std::printf("%.3f\n", seconds);
    return 0;
}
