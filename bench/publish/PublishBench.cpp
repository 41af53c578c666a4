// Publishes one converted book folder with the upload plan, the way a job does after its
// conversion, and prints the seconds it took. Used by run.sh.
//   publish_bench ftp BOOK_FOLDER BOOKS_FOLDER PORT REMOTE_FOLDER                (user alice, password secret)
//   publish_bench sftp|ftps BOOK_FOLDER BOOKS_FOLDER PORT REMOTE_FOLDER USER FINGERPRINT  (password on stdin)
//   publish_bench service BOOK_FOLDER BOOKS_FOLDER HOST:PORT E-MAIL [TIMES_FILE]  (password on stdin)
// sftp and ftps reach 127.0.0.1 and trust only the server key whose fingerprint
// ("SHA256:...") is given, as a profile does once its user confirmed the key.
// A first argument --in-place writes every file under its final name, as uploads did
// before files were renamed into place, for comparing the two in one run.
// With TIMES_FILE, every exchange with the service (login, metadata, probes, uploads) is
// written there, one a line: its answer time in seconds and the bytes of its request body.
#include "bench/publish/ExchangeTimes.h"
#include "publish/FtpSession.h"
#include "publish/UploadPlan.h"

#include <array>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>

namespace {

int32_t PageCount(const std::string& book) {
    int32_t pages = 0;
    while (std::filesystem::exists(book + "/thumb/img-" + std::to_string(pages + 1) + "-e.jpg")) ++pages;
    return pages;
}

// Logs in to the service, begins a staged publication and sends the book's metadata, as
// a job does before its upload.
bool PrepareService(Uploader& uploader, const std::string& host, const std::string& user, const std::string& book) {
    std::string password;
    std::getline(std::cin, password);
    uploader.SetHttpTarget(host, 80, "/vellumark/standalone.ashx");
    if (uploader.LoginHttp(user, password) <= 0) return false;
    const std::string key = std::filesystem::path(book).filename().string();
    if (!uploader.BeginUpdateHttp(key)) return false;
    uploader.SetJobValues({1, 0, 0, 0, 0, 0});
    return uploader.handle_pdf_metadata_http("bench.pdf", key, PageCount(book), 595, 842, "Benchmark", "", "", 0, 0);
}

// Points the uploader at an SFTP or FTPS server on loopback that holds the key with
// `fingerprint`, and logs in with the password read from standard input.
bool PrepareSecureFtp(Uploader& uploader, FtpTransport transport, const std::string& mode, const std::string& port,
                      const std::string& folder, const std::string& user, const std::string& fingerprint) {
    std::string password;
    std::getline(std::cin, password);
    transport.protocol = mode == "sftp" ? FtpProtocol::Sftp : FtpProtocol::Ftps;
    transport.fingerprint = fingerprint;
    uploader.SetFtpTarget("127.0.0.1/" + folder, user, password, 1, std::stoi(port));
    uploader.SetFtpTransport(transport);
    return uploader.ConnectFtp();
}

}  // namespace

int main(int argc, char** argv) {
    FtpTransport transport;
    if (argc > 1 && std::string(argv[1]) == "--in-place") {
        transport.replace_in_place = true;
        --argc;
        ++argv;
    }
    const std::string mode = argc > 1 ? argv[1] : "";
    const bool secure = mode == "sftp" || mode == "ftps";
    const bool usable = (mode == "ftp" && argc == 6) || (secure && argc == 8) ||
                        (mode == "service" && (argc == 6 || argc == 7));
    if (!usable) {
        std::fprintf(stderr, "usage: publish_bench [--in-place] ftp BOOK_FOLDER BOOKS_FOLDER PORT REMOTE_FOLDER\n"
                             "       publish_bench [--in-place] sftp|ftps BOOK_FOLDER BOOKS_FOLDER PORT REMOTE_FOLDER USER"
                             " FINGERPRINT < password\n"
                             "       publish_bench service BOOK_FOLDER BOOKS_FOLDER HOST:PORT E-MAIL [TIMES_FILE]"
                             " < password\n");
        return 2;
    }
    const std::string book = argv[2];
    PublishSettings settings;
    settings.books_folder = argv[3];
    // The pause before each chunk is a user setting; 1 ms is the least it can be (0 reads
    // as the default of 1000 ms).
    settings.http_wait_after_upld_chunk = 1;
    std::atomic<int32_t> progress{kMarkFoldersStart};
    std::atomic<int32_t> state{0};
    const auto start = std::chrono::steady_clock::now();
    Uploader uploader(&progress, &state, settings);
    bool ready = false;
    if (mode == "ftp") {
        uploader.SetFtpTarget(std::string("127.0.0.1/") + argv[5], "alice", "secret", 1, std::stoi(argv[4]));
        uploader.SetFtpTransport(transport);
        ready = uploader.ConnectFtp();
    } else if (secure) {
        ready = PrepareSecureFtp(uploader, transport, mode, argv[4], argv[5], argv[6], argv[7]);
    } else {
        ready = PrepareService(uploader, argv[4], argv[5], book);
    }
    if (!ready) {
        std::fprintf(stderr, "publish_bench: cannot log in\n");
        return 1;
    }
    const int32_t result = UploadBook(uploader, "", book, PageCount(book), 0, mode == "service");
    uploader.CloseAll();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (result != kPlanPublished) {
        std::fprintf(stderr, "publish_bench: the upload failed (%d)\n", result);
        return 1;
    }
    if (mode == "service" && argc == 7) {
        std::ofstream times(argv[6]);
        for (const Exchange& exchange : Exchanges()) times << exchange.seconds << ' ' << exchange.body_bytes << '\n';
        if (!times.flush()) {
            std::fprintf(stderr, "publish_bench: cannot write %s\n", argv[6]);
            return 1;
        }
    }
    std::printf("%.3f\n", seconds);
    return 0;
}
