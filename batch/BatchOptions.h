// The command line of vellumark-batch.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "batch/TargetSetup.h"

struct BatchOptions {
    std::vector<std::string> pdfs;          // PDFs to convert
    std::optional<std::string> title;       // default: the PDF's own
    std::optional<std::string> keywords;    // default: the PDF's own
    std::optional<std::string> description; // default: the PDF's own
    std::string export_dir;                 // empty: no export
    bool resume = false;                    // relaunch unfinished jobs
    std::vector<std::string> resume_keys;   // with --resume: only these jobs
    std::vector<std::string> publish_keys;  // finished books to publish now
    // Finished books to update with a new PDF (key, PDF), keeping their keys and addresses.
    std::vector<std::pair<std::string, std::string>> updates;
    int32_t stop_after_progress = -1;       // request a stop at this progress; -1: never
    bool publish = false;                   // use the configured publishing targets
    bool offer_pdf = false;                 // publish the PDF beside the book, with a download button
    std::vector<std::string> embed_keys;    // published books whose embed code is printed
    bool verbose = false;                   // show the diagnostic records on stderr
    bool help = false;
    // A farm task: a slice of a list of PDFs, in a folder of its own under a farm folder.
    std::string list_file;                  // --list: the PDFs, one path a line
    std::optional<std::string> slice;       // --slice I/N
    std::string slice_from_env;             // --slice-from-env NAME[,COUNT_NAME]
    std::string farm_dir;                   // --farm: the shared farm folder
    bool only_failed = false;               // only items without a success in the farm
    std::string farm_report_dir;            // --farm-report: merge a farm's results
    // Saving a publishing target instead of converting (the password comes on stdin).
    std::optional<FtpTargetSetup> ftp_target;
    std::optional<ServiceAccountSetup> service_account;
};

// Parses argv; on a mistake returns false with a message in `error`.
bool ParseBatchOptions(int argc, char** argv, BatchOptions& options, std::string& error);

// The --help text.
const char* BatchUsage();
