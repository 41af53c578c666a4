#include "batch/BatchRun.h"
#include "batch/FarmPlan.h"
#include "batch/JobStage.h"
#include "batch/PublishOutcome.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>
#include <unistd.h>

#include "config/AppConfig.h"
#include "config/CommonUtil.h"
#include "config/JobKey.h"
#include "pipeline/EngineRun.h"
#include "pipeline/ExportTarget.h"
#include "pipeline/JobSection.h"
#include "pipeline/BookUpdate.h"
#include "pipeline/ProcessPdfThread.h"
#include "pipeline/PublishLater.h"
#include "pipeline/SubmitJob.h"

namespace fs = std::filesystem;

std::atomic<bool> BatchRun::interrupted{false};

namespace {
// The desktop program refreshes once a second; the batch command looks more often, and
// much more often when it is to stop at a given progress, so that the stop request lands
// inside the step that progress belongs to even when the engine is fast.
constexpr auto kPollPeriod = std::chrono::milliseconds(200);
constexpr auto kStopWatchPeriod = std::chrono::milliseconds(10);
// While PDFs wait in the batch's own queue, a worker that frees up should get the next
// one soon: short jobs would otherwise leave the workers idle between polls.
constexpr auto kFeedPeriod = std::chrono::milliseconds(20);

std::string Absolute(const std::string& path)
{
    std::error_code ec;
    fs::path full = fs::absolute(path, ec);
    return ec ? path : full.lexically_normal().string();
}

// A path or text as one line of output: control characters (a line break in a file
// name) are shown escaped, so every message stays one line.
std::string Printable(const std::string& text)
{
    std::string out;
    for (unsigned char c : text) {
        if (c == '\n')
            out += "\\n";
        else if (c == '\r')
            out += "\\r";
        else if (c < 0x20 || c == 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
            out += escaped;
        } else
            out += static_cast<char>(c);
    }
    return out;
}

// Why the engine may not have read a file, from its first bytes and its trailer: a
// plainer reason for the message and the farm's report than "cannot read".
std::string ReadTrouble(const std::string& pdf)
{
    std::ifstream in(pdf, std::ios::binary);
    std::string head(1024, '\0');
    in.read(head.data(), static_cast<std::streamsize>(head.size()));
    head.resize(static_cast<size_t>(in.gcount()));
    if (head.find("%PDF-") == std::string::npos)
        return "not a PDF";
    in.clear();
    in.seekg(0, std::ios::end);
    const std::streamoff size = in.tellg();
    const std::streamoff tail_size = std::min<std::streamoff>(size, 64 * 1024);
    std::string tail(static_cast<size_t>(tail_size), '\0');
    in.seekg(size - tail_size);
    in.read(tail.data(), tail_size);
    if (tail.find("/Encrypt") != std::string::npos)
        return "encrypted: it needs a password";
    if (tail.find("%%EOF") == std::string::npos)
        return "damaged or cut short";
    return "";
}

double SecondsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}
}  // namespace

BatchRun::BatchRun(AppConfig& cfg, const BatchOptions& options, const Slice& slice, const std::string& task_folder)
    : cfg_(cfg), options_(options), table_([&cfg](PdfJob& job) { return ProcessPdfThread(job, cfg); }),
      view_(isatty(STDERR_FILENO) != 0), slice_(slice),
      results_file_(task_folder.empty() ? std::string() : task_folder + "/results.jsonl")
{
    table_.SetThreadLimit(cfg.m_threads_limit);
    table_.SetStopMark(options_.stop_after_progress);
    queue_.SetTexts(cfg.m_process_msg, cfg.m_error_msg);
}

BatchRun::~BatchRun()
{
    for (int i = 0; i < JobTable::kSlotCount; ++i)
        table_.RequestStop(i);
    table_.JoinAll();
}

void BatchRun::OnJobIncomplete(PdfJob* slot)
{
    std::lock_guard<std::mutex> lock(outcomes_lock_);
    Outcome& outcome = outcomes_[slot->key];
    outcome.ended = true;
    outcome.result_code = slot->result_code.load();
}

void BatchRun::OnJobFinished(PdfJob* slot, int exit_code)
{
    std::lock_guard<std::mutex> lock(outcomes_lock_);
    Outcome& outcome = outcomes_[slot->key];
    outcome.ended = true;
    outcome.finished = true;
    outcome.exit_code = exit_code;
}

void BatchRun::OnJobNote(PdfJob* slot, const std::string& text)
{
    std::lock_guard<std::mutex> lock(outcomes_lock_);
    outcomes_[slot->key].notes.push_back(text);
}

int BatchRun::Run()
{
    // Every export destination is checked before any job exists, so a refused one
    // leaves nothing behind and costs no conversion.
    std::vector<Planned> plan;
    if (!Plan(plan))
        return 1;
    std::vector<std::string> keys = options_.resume_keys;
    PrepareFinishedBooks(keys);
    if (!options_.list_file.empty() && !PlanList(keys))
        return 1;
    // Without --resume only the books readied above are resumed, never every unfinished job.
    if ((options_.resume || keys.size() > options_.resume_keys.size()) && !Resume(keys))
        ++failures_;
    // Resumed list items record their result as newly taken ones do.
    for (Job& job : jobs_) {
        auto found = resumed_items_.find(job.key);
        if (found == resumed_items_.end())
            continue;
        job.record.farm_item = true;
        job.record.sha256 = found->second.sha256;
        job.record.pages = cfg_.m_meta_ini.ReadInt(job.key, "pagenum");
        job.record.taken = std::chrono::steady_clock::now();
    }
    waiting_.assign(plan.begin(), plan.end());
    waiting_.insert(waiting_.end(), listed_.begin(), listed_.end());
    while (true) {
        SubmitWaiting();
        Poll();
        if (!table_.AnyActive() && table_.PendingList().empty() && (waiting_.empty() || interrupted.load()))
            break;
        std::this_thread::sleep_for(options_.stop_after_progress >= 0 ? kStopWatchPeriod
                                    : waiting_.empty()                 ? kPollPeriod
                                                                       : kFeedPeriod);
    }
    table_.JoinAll();
    Poll();
    view_.Finish();
    return Report();
}

bool BatchRun::PlanList(std::vector<std::string>& resume_keys)
{
    FarmPlan farm;
    std::string error;
    if (!PlanFarm(options_.list_file, slice_, options_.only_failed, options_.farm_dir, results_file_, farm, error)) {
        std::fprintf(stderr, "vellumark-batch: %s\n", Printable(error).c_str());
        return false;
    }
    if (farm.already_done > 0)
        std::fprintf(stderr, "vellumark-batch: %zu PDFs of this slice are done already\n", farm.already_done);
    // A job that an earlier run of this task started and a kill cut short is resumed from
    // its last finished step, under its key: its book and the pages it had published are
    // not made again, and the book on the target is completed rather than left half.
    CPdfItemList unfinished(false);
    unfinished.Build(cfg_.m_meta_ini);
    for (const FarmItem& item : farm.items) {
        Planned planned{item.pdf, item.pdf, std::string(), true, item.sha256};
        const int row = item.resume_key.empty() ? -1 : unfinished.FindRowByKey(item.resume_key);
        if (row >= 0 && unfinished.Item(row)->pdf_path == item.pdf) {
            resumed_items_[item.resume_key] = planned;
            resume_keys.push_back(item.resume_key);
        } else {
            listed_.push_back(planned);
        }
    }
    return true;
}

bool BatchRun::Plan(std::vector<Planned>& plan)
{
    const std::string export_root = options_.export_dir.empty() ? std::string() : Absolute(options_.export_dir);
    std::vector<std::string> used;
    bool ok = true;
    if (!export_root.empty() && options_.pdfs.size() > 1) {
        std::string reason = ExportLocationRefusal(export_root, GuardFor(cfg_, std::string()));
        if (!reason.empty()) {
            std::fprintf(stderr, "vellumark-batch: export into %s refused: %s\n", Printable(export_root).c_str(),
                         reason.c_str());
            ok = false;
        }
    }
    for (const std::string& pdf_arg : options_.pdfs) {
        Planned planned{pdf_arg, Absolute(pdf_arg), export_root, false, std::string()};
        // One PDF exports into the folder itself; several each into a sub-folder named
        // after the PDF, made safe as a folder name and unique among this run's.
        if (!export_root.empty() && options_.pdfs.size() > 1) {
            const std::string stem = ExportFolderName(planned.pdf);
            std::string name = stem;
            for (int n = 2; std::find(used.begin(), used.end(), name) != used.end(); ++n)
                name = stem + "-" + std::to_string(n);
            used.push_back(name);
            planned.export_dir = JoinPath(export_root, name);
        }
        if (!planned.export_dir.empty()) {
            std::string reason = ExportRefusal(planned.export_dir, GuardFor(cfg_, planned.pdf));
            if (reason.empty())
                reason = UnstorablePathReason(planned.export_dir);
            if (!reason.empty()) {
                std::fprintf(stderr, "vellumark-batch: export into %s refused: %s\n",
                             Printable(planned.export_dir).c_str(), reason.c_str());
                ok = false;
            }
        }
        plan.push_back(planned);
    }
    if (!ok)
        std::fprintf(stderr, "vellumark-batch: nothing was converted; choose another export folder\n");
    return ok;
}

void BatchRun::SubmitWaiting()
{
    // The batch keeps its own queue: only a few jobs wait in the table at a time, so
    // that any number of PDFs fits in its slots.
    while (!waiting_.empty() && !interrupted.load() && table_.HasFreeSlot() &&
           static_cast<int32_t>(table_.PendingList().size()) < table_.ThreadLimit()) {
        Planned planned = waiting_.front();
        waiting_.pop_front();
        if (!Submit(planned))
            ++failures_;
    }
}

std::string BatchRun::SubmitRefusal(const Planned& planned, EngineDocInfo& info)
{
    const std::string& pdf = planned.pdf;
    if (!fs::exists(pdf))
        return "no such file";
    if (std::string reason = UnstorablePathReason(pdf); !reason.empty())
        return "cannot be converted: " + reason + "; rename the file or its folder";
    if (fs::is_directory(pdf))
        return "cannot be read: it is a folder";
    if (std::ifstream readable(pdf, std::ios::binary); !readable)
        return std::string("cannot be read: ") + std::strerror(errno);
    if (!EngineRun::QueryInfo(cfg_.m_dpi, cfg_.m_engine_path, pdf, info)) {
        const std::string trouble = ReadTrouble(pdf);
        return "the engine cannot read this PDF" + (trouble.empty() ? std::string() : " (" + trouble + ")");
    }
    return {};
}

bool BatchRun::Submit(const Planned& planned)
{
    const auto taken = std::chrono::steady_clock::now();
    EngineDocInfo info;
    std::string why = SubmitRefusal(planned, info);
    if (why.empty() && StartJob(planned, info, taken))
        return true;
    if (why.empty())
        why = "the job could not be started";
    std::fprintf(stderr, "vellumark-batch: %s: %s\n", Printable(planned.pdf_arg).c_str(), why.c_str());
    if (planned.farm_item) {
        ItemResult failed(kOutcomeFailed, planned.pdf, planned.sha256);
        failed.seconds = SecondsSince(taken);
        failed.error = why;
        RecordResult(failed);
    }
    return false;
}

bool BatchRun::StartJob(const Planned& planned, const EngineDocInfo& info, std::chrono::steady_clock::time_point taken)
{
    const std::string& pdf = planned.pdf;
    SubmitRequest request;
    request.pdf_path = pdf;
    request.title = options_.title.value_or(info.title);
    request.tags = options_.keywords.value_or(info.tags);
    request.description = options_.description.value_or(info.description);
    // A PDF without a title of its own is named after its file.
    if (TrimJobText(request.title).empty())
        request.title = fs::path(pdf).stem().string();
    request.pagenum = info.page_count;
    request.pagewidth = info.page_width;
    request.pageheight = info.page_height;
    TakeClassificationFrom(cfg_, request);

    JobTargets targets;
    if (options_.publish)
        targets = TargetsFromSettings(cfg_);
    if (!planned.export_dir.empty()) {
        targets.export_requested = true;
        targets.export_folder = planned.export_dir;
    }
    std::string key;
    if (SubmitJob(cfg_, table_, request, targets, false, &queue_, &key, this) < 0)
        return false;
    Job job;
    job.key = key;
    job.pdf = pdf;
    job.export_dir = planned.export_dir;
    job.record = {planned.farm_item, false, planned.sha256, info.page_count, taken};
    jobs_.push_back(job);
    if (planned.farm_item)
        RecordResult(ItemResult(kOutcomeStarted, pdf, planned.sha256, key, info.page_count));
    return true;
}

void BatchRun::RecordResult(ItemResult result)
{
    if (results_file_.empty())
        return;
    result.task = slice_.index;
    result.time = UtcNow();
    std::string error;
    if (!AppendResult(results_file_, result, error))
        std::fprintf(stderr, "vellumark-batch: the result of %s is not recorded: %s\n",
                     Printable(result.pdf).c_str(), Printable(error).c_str());
}

std::string BatchRun::FailureOf(const Job& job) const
{
    std::string why;
    if (!job.outcome.finished) {
        const int32_t code = job.outcome.result_code;
        why = code == JOB_RESULT_CONVERSION_FAILED ? "the conversion failed" : "the job ended early";
        if (code > JOB_RESULT_OK && code < JOB_RESULT_CONVERSION_FAILED)
            why += ": " + cfg_.m_error_msg[static_cast<size_t>(code)];
    } else if (const std::vector<std::string> missed = MissedTargets(cfg_, job.key, job.outcome.notes);
               !missed.empty()) {
        why = "the book was made but not published to " + missed.front();
        for (size_t i = 1; i < missed.size(); ++i)
            why += " and " + missed[i];
    } else if (!job.export_dir.empty() && job.outcome.exit_code != 0) {
        why = "the book was made but its export into " + job.export_dir + " failed";
    }
    if (why.empty())
        return why;
    // The worker's own messages (the engine's, naming the page) say more.
    for (const std::string& note : job.outcome.notes)
        if (note.rfind("published at ", 0) != 0)
            why += "; " + note;
    return why;
}

void BatchRun::RecordEnded(Job& job)
{
    if (!job.record.farm_item || job.record.written || !job.outcome.ended)
        return;
    job.record.written = true;
    ItemResult result(kOutcomeDone, job.pdf, job.record.sha256, job.key, job.record.pages);
    result.seconds = SecondsSince(job.record.taken);
    result.error = FailureOf(job);
    if (!result.error.empty())
        result.outcome = kOutcomeFailed;
    for (const JobTarget& target : JobTargetsOf(cfg_, job.key, job.outcome.notes))
        if (target.reached)
            result.addresses.emplace_back(target.name, target.address);
    RecordResult(result);
}

void BatchRun::PrepareFinishedBooks(std::vector<std::string>& keys)
{
    for (const std::string& key : options_.publish_keys) {
        if (const std::string why = PrepareLaterPublication(cfg_, key); !why.empty()) {
            std::fprintf(stderr, "vellumark-batch: %s: cannot be published: %s\n", key.c_str(), why.c_str());
            ++failures_;
        } else {
            keys.push_back(key);
        }
    }
    for (const auto& [key, pdf_arg] : options_.updates) {
        const std::string pdf = Absolute(pdf_arg);
        EngineDocInfo info;
        std::string why;
        if (!fs::exists(pdf))
            why = "no such file " + Printable(pdf_arg);
        else if (!EngineRun::QueryInfo(cfg_.m_dpi, cfg_.m_engine_path, pdf, info))
            why = "the engine cannot read " + Printable(pdf_arg);
        else
            why = PrepareBookUpdate(cfg_, key, pdf, info.page_count, info.page_width, info.page_height);
        if (!why.empty()) {
            std::fprintf(stderr, "vellumark-batch: %s: cannot be updated: %s\n", key.c_str(), why.c_str());
            ++failures_;
        } else {
            keys.push_back(key);
        }
    }
}

bool BatchRun::Resume(const std::vector<std::string>& keys)
{
    CPdfItemList unfinished(false);
    unfinished.SetTexts(cfg_.m_process_msg, cfg_.m_error_msg);
    unfinished.Build(cfg_.m_meta_ini);
    bool ok = true;
    for (const std::string& key : keys) {
        if (unfinished.FindRowByKey(key) < 0) {
            std::fprintf(stderr, "vellumark-batch: %s: no unfinished job with this key\n", key.c_str());
            ok = false;
        }
    }
    for (int row = 0; row < unfinished.RowCount(); ++row) {
        const PdfItem* item = unfinished.Item(row);
        bool wanted = keys.empty();
        for (const std::string& key : keys)
            wanted = wanted || key == item->key;
        if (!wanted)
            continue;
        unfinished.Select(row, true);
        Job job;
        job.key = item->key;
        job.pdf = item->pdf_path;
        job.start_progress = item->progress;
        jobs_.push_back(job);
    }
    if (unfinished.SelectionMark() < 0) {
        std::fprintf(stderr, "vellumark-batch: no unfinished job to resume\n");
        // Nothing to resume is no failure, unless particular jobs were asked for.
        return ok && keys.empty();
    }
    RelaunchSelected(cfg_, table_, unfinished, -1, this);
    // The resumed rows join the rows this run shows.
    for (int row = unfinished.RowCount() - 1; row >= 0; --row)
        if (unfinished.IsSelected(row))
            queue_.AddRow(queue_.RowCount(), unfinished.TakeRow(row), false);
    return ok;
}

void BatchRun::TakeOutcomes()
{
    std::lock_guard<std::mutex> lock(outcomes_lock_);
    for (Job& job : jobs_) {
        auto found = outcomes_.find(job.key);
        if (found != outcomes_.end())
            job.outcome = found->second;
    }
}

void BatchRun::Poll()
{
    queue_.Refresh(table_);
    TakeOutcomes();
    bool stop_all = interrupted.load();
    std::vector<JobLine> lines;
    for (Job& job : jobs_) {
        JobLine line;
        line.key = job.key;
        line.name = CPdfItemList::FileNameOf(job.pdf);
        if (job.outcome.ended) {
            RecordEnded(job);
            // Its slot may serve another job by now: the reported outcome stands.
            line.ended = true;
            line.progress = job.outcome.finished ? kProgressFinished : StoredProgress(job.key);
            line.state = job.outcome.finished ? cfg_.m_process_msg[JOB_STATE_FREE] : "ended early";
            lines.push_back(line);
            continue;
        }
        int slot = table_.FindSlotByKey(job.key);
        if (slot >= 0) {
            int32_t progress = table_.Slot(slot).progress.load();
            bool wanted = options_.stop_after_progress >= 0 && job.start_progress < options_.stop_after_progress &&
                          progress >= options_.stop_after_progress;
            if ((wanted || stop_all) && !job.stop_requested && table_.Slot(slot).state.load() != JOB_STATE_FREE) {
                table_.RequestStop(slot);
                job.stop_requested = true;
            }
        }
        int row = queue_.FindRowByKey(job.key);
        if (row >= 0) {
            line.progress = queue_.Item(row)->progress;
            line.state = queue_.CellText(row, CPdfItemList::kColState);
            // A running job also names its step, the upload's folder included.
            int32_t state = slot >= 0 ? table_.Slot(slot).state.load() : JOB_STATE_FREE;
            if (state == JOB_STATE_RUNNING || state == JOB_STATE_UPLOADING)
                line.state += " (" + JobStageName(line.progress) + ")";
        }
        lines.push_back(line);
    }
    view_.Show(lines, waiting_.size());
    table_.RecountRunning();
    table_.StartPendingJobs();
}

int32_t BatchRun::StoredProgress(const std::string& key) const
{
    return NormaliseProgress(cfg_.m_meta_ini.ReadInt(key, "progress"));
}

int BatchRun::Report()
{
    int failed = failures_;
    for (const Job& job : jobs_) {
        const std::string pdf = Printable(job.pdf);
        for (const std::string& note : job.outcome.notes)
            std::fprintf(stderr, "vellumark-batch: %s: %s\n", pdf.c_str(), Printable(note).c_str());
        if (!job.outcome.finished) {
            ++failed;
            const int32_t code = job.outcome.result_code;
            std::string why = code == JOB_RESULT_CONVERSION_FAILED ? "failed" : "ended early";
            // Login and upload failures have a text of their own in the language file.
            if (code > JOB_RESULT_OK && code < JOB_RESULT_CONVERSION_FAILED)
                why += ": " + cfg_.m_error_msg[static_cast<size_t>(code)];
            // A job that ended early is resumable from its stored progress.
            std::fprintf(stderr, "vellumark-batch: %s: job %s %s (--verbose shows more); resume it with --resume %s\n",
                         pdf.c_str(), job.key.c_str(), why.c_str(), job.key.c_str());
            continue;
        }
        std::string page = JoinPath(JoinPath(cfg_.m_books_folder, job.key), "index.html");
        // A publication that was asked for and did not happen is a failure, even though
        // the worker finished the book without it.
        const std::vector<std::string> missed = MissedTargets(cfg_, job.key, job.outcome.notes);
        if (!missed.empty()) {
            ++failed;
            for (const std::string& target : missed)
                std::fprintf(stderr, "vellumark-batch: %s: job %s: the book was made (%s) but not published to %s\n",
                             pdf.c_str(), job.key.c_str(), page.c_str(), Printable(target).c_str());
            continue;
        }
        if (!job.export_dir.empty()) {
            if (job.outcome.exit_code != 0) {
                ++failed;
                std::fprintf(stderr, "vellumark-batch: %s: the book was made (%s) but its export into %s failed\n",
                             pdf.c_str(), page.c_str(), Printable(job.export_dir).c_str());
                continue;
            }
            page = JoinPath(job.export_dir, "index.html");
        }
        std::printf("%s\n", page.c_str());
    }
    for (const Planned& planned : waiting_) {
        ++failed;
        std::fprintf(stderr, "vellumark-batch: %s: not started (interrupted)\n", Printable(planned.pdf_arg).c_str());
    }
    std::fflush(stdout);
    return failed == 0 ? 0 : 1;
}
