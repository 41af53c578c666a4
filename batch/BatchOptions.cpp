#include "batch/BatchOptions.h"

#include <cstdlib>
#include <cstring>

#include "config/JobKey.h"

const char* BatchUsage()
{
    return "Usage: vellumark-batch [options] FILE.pdf...\n"
           "       vellumark-batch --resume [KEY...]\n"
           "Converts PDF files into flip books in the books folder, with the settings of the\n"
           "desktop program, and prints the path of each book's index.html.\n"
           "\n"
           "Options:\n"
           "  --title TEXT              book title (default: the PDF's own title)\n"
           "  --keywords TEXT           book keywords (default: the PDF's own)\n"
           "  --description TEXT        book description (default: the PDF's own)\n"
           "  --export DIR              copy the finished book into DIR as a self-contained\n"
           "                            folder; with several PDFs each book goes into a\n"
           "                            sub-folder of DIR named after its PDF. A folder that\n"
           "                            is not empty is replaced only when it holds an earlier\n"
           "                            export; anything else is refused before any work\n"
           "  --resume                  resume the unfinished jobs of the books folder; with\n"
           "                            job keys as arguments, only those jobs\n"
           "  --stop-after-progress N   ask each job to stop once its progress reaches N\n"
           "                            (thousandths of a percent, 0 to 100000)\n"
           "  --publish                 publish as configured in the desktop program (by\n"
           "                            default nothing is published)\n"
           "  --verbose                 also print the diagnostic records on standard error\n"
           "  --help                    show this text\n"
           "\n"
           "Exit status: 0 when every job finished, 1 when a job ended early or failed,\n"
           "2 for a usage mistake.\n";
}

bool ParseBatchOptions(int argc, char** argv, BatchOptions& options, std::string& error)
{
    auto value = [&](int& i, const char* name, std::string& out) {
        if (i + 1 >= argc) {
            error = std::string(name) + " needs a value";
            return false;
        }
        out = argv[++i];
        return true;
    };
    bool options_done = false;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        std::string text;
        if (options_done || arg.empty() || arg[0] != '-') {
            if (options.resume && IsJobKey(arg))
                options.resume_keys.push_back(arg);
            else
                options.pdfs.push_back(arg);
        } else if (arg == "--") {
            options_done = true;
        } else if (arg == "--verbose" || arg == "-v") {
            options.verbose = true;
        } else if (arg == "--help" || arg == "-h") {
            options.help = true;
        } else if (arg == "--title") {
            if (!value(i, "--title", text))
                return false;
            options.title = text;
        } else if (arg == "--keywords") {
            if (!value(i, "--keywords", text))
                return false;
            options.keywords = text;
        } else if (arg == "--description") {
            if (!value(i, "--description", text))
                return false;
            options.description = text;
        } else if (arg == "--export") {
            if (!value(i, "--export", options.export_dir))
                return false;
            if (options.export_dir.empty()) {
                error = "--export needs a folder";
                return false;
            }
        } else if (arg == "--resume") {
            options.resume = true;
        } else if (arg == "--publish") {
            options.publish = true;
        } else if (arg == "--stop-after-progress") {
            if (!value(i, "--stop-after-progress", text))
                return false;
            char* end = nullptr;
            long n = std::strtol(text.c_str(), &end, 10);
            if (text.empty() || *end != '\0' || n < 0 || n > 100000) {
                error = "--stop-after-progress needs a number from 0 to 100000";
                return false;
            }
            options.stop_after_progress = static_cast<int32_t>(n);
        } else {
            error = "unknown option " + arg;
            return false;
        }
    }
    if (!options.help && options.pdfs.empty() && !options.resume) {
        error = "no PDF file given";
        return false;
    }
    return true;
}
