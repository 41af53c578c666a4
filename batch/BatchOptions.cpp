#include "batch/BatchOptions.h"

#include <cstdlib>
#include <cstring>

#include "batch/FarmList.h"
#include "config/JobKey.h"
#include "config/ServiceHostCheck.h"
#include "publish/NetworkSettings.h"

const char* BatchUsage()
{
    return "Usage: vellumark-batch [options] FILE.pdf...\n"
           "       vellumark-batch --resume [KEY...]\n"
           "       vellumark-batch --publish-book KEY [--publish-book KEY...]\n"
           "       vellumark-batch --update KEY NEW.pdf [--publish]\n"
           "       vellumark-batch --embed-code KEY [--embed-code KEY...]\n"
           "       vellumark-batch --list FILE [--slice I/N | --slice-from-env NAME[,COUNT]] --farm DIR\n"
           "                       [--only-failed] [--publish]\n"
           "       vellumark-batch --farm-report DIR\n"
           "       vellumark-batch --set-ftp-target HOST/FOLDER --ftp-user NAME --ftp-webaddr URL\n"
           "                       [--protocol ftp|ftps|sftp] [--key-file PATH] [--accept-fingerprint SHA256:...]\n"
           "                       [--ftp-port N] [--ftp-active] < password (with --key-file: passphrase)\n"
           "       vellumark-batch --set-service-account E-MAIL [--service-host HOST[:PORT]] < password\n"
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
           "  --offer-pdf               publish the PDF beside the book, with a download button\n"
           "                            on its page (by default the PDF stays on this computer)\n"
           "  --embed-code KEY          print the HTML that shows the published book KEY in a\n"
           "                            page of your own, for each address it is published at\n"
           "  --publish-book KEY        publish the finished book KEY to the configured targets\n"
           "                            without converting it again; where the book was\n"
           "                            published before, only what changed is sent\n"
           "  --update KEY NEW.pdf      convert NEW.pdf into the finished book KEY (same key, same\n"
           "                            addresses, the book's own settings and targets), then\n"
           "                            publish it where the book was published, sending only\n"
           "                            what changed; the old book stays until the new one is whole\n"
           "  --list FILE               also convert the PDFs FILE names, one path a line (blank\n"
           "                            lines and # comments skipped, relative paths taken from\n"
           "                            FILE's folder); a PDF that is missing or unreadable is\n"
           "                            that item's failure, the others go on\n"
           "  --slice I/N               only the list's items whose position (from 0) modulo N\n"
           "                            is I. Without it, a Slurm array task takes its slice from\n"
           "                            SLURM_ARRAY_TASK_ID, _MIN and _COUNT\n"
           "  --slice-from-env NAME[,COUNT_NAME]\n"
           "                            the slice's I from variable NAME, N from COUNT_NAME\n"
           "                            (default VELLUMARK_TASK_COUNT), as in a Kubernetes\n"
           "                            Indexed Job: JOB_COMPLETION_INDEX\n"
           "  --farm DIR                work in DIR/task-I/ (its own books folder, books/, and\n"
           "                            its results, results.jsonl: a JSON line per item)\n"
           "  --only-failed             with --farm: skip the items that a task of the farm has\n"
           "                            done already (a PDF whose bytes changed is new)\n"
           "  --farm-report DIR         merge the results of every task of the farm DIR into one\n"
           "                            summary: printed, and kept in DIR/report.txt and\n"
           "                            DIR/report.json; status 1 while any item is not done\n"
           "  --verbose                 also print the diagnostic records on standard error\n"
           "  --set-ftp-target ADDRESS  save an FTP profile (HOST/FOLDER) and make it the FTP\n"
           "                            target of --publish; the password is the first line\n"
           "                            of standard input (asked for on a terminal)\n"
           "  --ftp-user NAME           the FTP account (with --set-ftp-target)\n"
           "  --ftp-webaddr URL         the web address under which FOLDER is seen\n"
           "  --protocol NAME           ftp (default; the password travels in clear), ftps (FTP\n"
           "                            over TLS) or sftp (over SSH)\n"
           "  --key-file PATH           sftp: log in with this private key instead of a\n"
           "                            password; standard input then gives its passphrase\n"
           "                            (an empty line or none when it has none)\n"
           "  --accept-fingerprint SHA256:...\n"
           "                            ftps, sftp: trust the server that shows this key. A\n"
           "                            server that no authority or known_hosts vouches for\n"
           "                            is refused, and its fingerprint printed, until then\n"
           "  --ftp-port N              the port (default 21, for sftp 22)\n"
           "  --ftp-active              active instead of passive FTP transfers\n"
           "  --set-service-account E-MAIL\n"
           "                            save the publishing service account and make the\n"
           "                            service a target of --publish; password as above\n"
           "  --service-host HOST       the service's host name, optionally with :PORT, reached\n"
           "                            over https (http only for a loopback address or when\n"
           "                            written as http://HOST)\n"
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
        } else if (arg == "--offer-pdf") {
            options.offer_pdf = true;
        } else if (arg == "--embed-code") {
            if (!value(i, "--embed-code", text))
                return false;
            if (!IsJobKey(text)) {
                error = "--embed-code needs a book key (32 hexadecimal digits in capitals)";
                return false;
            }
            options.embed_keys.push_back(text);
        } else if (arg == "--list" || arg == "--farm" || arg == "--farm-report" || arg == "--slice-from-env") {
            if (!value(i, arg.c_str(), text))
                return false;
            if (text.empty()) {
                error = arg + " needs a value";
                return false;
            }
            (arg == "--list"          ? options.list_file
             : arg == "--farm"        ? options.farm_dir
             : arg == "--farm-report" ? options.farm_report_dir
                                      : options.slice_from_env) = text;
        } else if (arg == "--slice") {
            if (!value(i, "--slice", text))
                return false;
            Slice slice;
            if (!ParseSlice(text, slice, error))
                return false;
            options.slice = text;
        } else if (arg == "--only-failed") {
            options.only_failed = true;
        } else if (arg == "--publish-book") {
            if (!value(i, "--publish-book", text))
                return false;
            if (!IsJobKey(text)) {
                error = "--publish-book needs a book key (32 hexadecimal digits in capitals)";
                return false;
            }
            options.publish_keys.push_back(text);
        } else if (arg == "--update") {
            if (i + 2 >= argc || !IsJobKey(argv[i + 1])) {
                error = "--update needs a book key (32 hexadecimal digits in capitals) and a PDF";
                return false;
            }
            options.updates.emplace_back(argv[i + 1], argv[i + 2]);
            i += 2;
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
        } else if (arg == "--set-ftp-target") {
            options.ftp_target.emplace();
            if (!value(i, "--set-ftp-target", options.ftp_target->profile))
                return false;
        } else if (arg == "--ftp-user" || arg == "--ftp-webaddr" || arg == "--ftp-port" || arg == "--ftp-active" ||
                   arg == "--protocol" || arg == "--key-file" || arg == "--accept-fingerprint") {
            if (!options.ftp_target) {
                error = arg + " belongs after --set-ftp-target";
                return false;
            }
            if (arg == "--ftp-active") {
                options.ftp_target->passive = false;
            } else if (!value(i, arg.c_str(), text)) {
                return false;
            } else if (arg == "--ftp-user") {
                options.ftp_target->user = text;
            } else if (arg == "--ftp-webaddr") {
                options.ftp_target->webaddr = text;
            } else if (arg == "--protocol") {
                if (!ParseFtpProtocol(text, options.ftp_target->protocol)) {
                    error = "--protocol needs ftp, ftps or sftp";
                    return false;
                }
            } else if (arg == "--key-file") {
                if (text.empty()) {
                    error = "--key-file needs a file";
                    return false;
                }
                options.ftp_target->key_file = text;
            } else if (arg == "--accept-fingerprint") {
                options.ftp_target->accept_fingerprint = text;
            } else {
                char* end = nullptr;
                long n = std::strtol(text.c_str(), &end, 10);
                if (text.empty() || *end != '\0' || n < 1 || n > 65535) {
                    error = "--ftp-port needs a number from 1 to 65535";
                    return false;
                }
                options.ftp_target->port = static_cast<int32_t>(n);
            }
        } else if (arg == "--set-service-account") {
            options.service_account.emplace();
            if (!value(i, "--set-service-account", options.service_account->user))
                return false;
        } else if (arg == "--service-host") {
            if (!options.service_account) {
                error = "--service-host belongs after --set-service-account";
                return false;
            }
            if (!value(i, "--service-host", options.service_account->host))
                return false;
            ServiceHostParts parts;
            const ServiceHostProblem problem = SplitServiceHost(options.service_account->host, parts);
            if (problem != ServiceHostProblem::kNone) {
                error = "--service-host " + options.service_account->host + ": " + ServiceHostProblemText(problem);
                return false;
            }
        } else {
            error = "unknown option " + arg;
            return false;
        }
    }
    const bool setup = options.ftp_target || options.service_account;
    const bool finished_books = !options.publish_keys.empty() || !options.updates.empty();
    if (!options.farm_report_dir.empty() &&
        (setup || !options.pdfs.empty() || !options.list_file.empty() || options.resume || finished_books)) {
        error = "--farm-report is given on its own";
        return false;
    }
    if ((options.slice || !options.slice_from_env.empty()) && options.list_file.empty()) {
        error = "--slice and --slice-from-env take a slice of --list";
        return false;
    }
    if (options.slice && !options.slice_from_env.empty()) {
        error = "give --slice or --slice-from-env, not both";
        return false;
    }
    if (!options.list_file.empty() && !options.export_dir.empty()) {
        error = "--export copies the books of PDFs given by name, not of a --list";
        return false;
    }
    if (options.only_failed && options.farm_dir.empty()) {
        error = "--only-failed needs --farm, where the results are";
        return false;
    }
    if (!options.farm_dir.empty() && options.list_file.empty()) {
        error = "--farm works on a --list";
        return false;
    }
    if (!options.farm_report_dir.empty())
        return true;
    if (options.ftp_target && options.service_account) {
        error = "save one target at a time";
        return false;
    }
    if (!options.embed_keys.empty() &&
        (setup || !options.pdfs.empty() || !options.list_file.empty() || options.resume || finished_books)) {
        error = "--embed-code is given on its own";
        return false;
    }
    if (setup && (!options.pdfs.empty() || options.resume || finished_books || !options.list_file.empty())) {
        error = "a target is saved on its own: convert in a second command";
        return false;
    }
    if (options.ftp_target && (options.ftp_target->user.empty() || options.ftp_target->webaddr.empty())) {
        error = "--set-ftp-target needs --ftp-user and --ftp-webaddr";
        return false;
    }
    if (!options.help && !setup && options.pdfs.empty() && options.list_file.empty() && !options.resume &&
        !finished_books && options.embed_keys.empty()) {
        error = "no PDF file given";
        return false;
    }
    return true;
}
