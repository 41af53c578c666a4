#include "batch/BatchRun.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <thread>
#include <unistd.h>

#include "config/AppConfig.h"
#include "config/CommonUtil.h"
#include "config/JobKey.h"
#include "pipeline/EngineRun.h"
#include "pipeline/JobSection.h"
#include "pipeline/ProcessPdfThread.h"
#include "pipeline/SubmitJob.h"

namespace fs = std::filesystem;

std::atomic<bool> BatchRun::interrupted{false};

namespace {
// The desktop program refreshes once a second; the batch command looks more often, and
// much more often when it is to stop at a given progress, so that the stop request lands
// inside the step that progress belongs to even when the engine is fast.
constexpr auto kPollPeriod = std::chrono::milliseconds(200);
constexpr auto kStopWatchPeriod = std::chrono::milliseconds(10);

std::string Absolute(const std::string& path)
{
    std::error_code ec;
    fs::path full = fs::absolute(path, ec);
    return ec ? path : full.lexically_normal().string();
}
}  // namespace

BatchRun::BatchRun(AppConfig& cfg, const BatchOptions& options)
    : cfg_(cfg), options_(options),
      table_([&cfg](PdfJob& job) { return ProcessPdfThread(job, cfg); }),
      view_(isatty(STDERR_FILENO) != 0)
{
    table_.SetThreadLimit(cfg.m_threads_limit);
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
    std::lock_guard<std::mutex> lock(incomplete_lock_);
    incomplete_.push_back(slot->key);
}

int BatchRun::Run()
{
    if (options_.resume && !Resume())
        ++failures_;
    std::string export_root = options_.export_dir.empty() ? std::string() : Absolute(options_.export_dir);
    std::vector<std::string> used;
    for (const std::string& pdf : options_.pdfs) {
        // One PDF exports into the folder itself; several each into a sub-folder named
        // after the PDF, since every export empties its destination first.
        std::string export_dir = export_root;
        if (!export_root.empty() && options_.pdfs.size() > 1) {
            std::string stem = fs::path(pdf).stem().string();
            std::string name = stem;
            for (int n = 2; std::find(used.begin(), used.end(), name) != used.end(); ++n)
                name = stem + "-" + std::to_string(n);
            used.push_back(name);
            export_dir = JoinPath(export_root, name);
        }
        if (!Submit(pdf, export_dir))
            ++failures_;
    }
    while (true) {
        Poll();
        if (!table_.AnyActive() && table_.PendingList().empty())
            break;
        std::this_thread::sleep_for(options_.stop_after_progress >= 0 ? kStopWatchPeriod : kPollPeriod);
    }
    table_.JoinAll();
    Poll();
    view_.Finish();
    return Report();
}

bool BatchRun::Submit(const std::string& pdf_arg, const std::string& export_dir)
{
    std::string pdf = Absolute(pdf_arg);
    if (!fs::exists(pdf)) {
        std::fprintf(stderr, "vellumark-batch: %s: no such file\n", pdf_arg.c_str());
        return false;
    }
    EngineDocInfo info;
    if (!EngineRun::QueryInfo(cfg_.m_dpi, cfg_.m_engine_path, pdf, info)) {
        std::fprintf(stderr, "vellumark-batch: %s: the engine cannot read this PDF\n", pdf_arg.c_str());
        return false;
    }
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
    request.cat_id = cfg_.m_cat_id;
    request.subcat_id = cfg_.m_subcat_id;
    request.country_id = cfg_.m_country_id;
    request.state_id = cfg_.m_state_id;
    request.city_id = cfg_.m_city_id;

    JobTargets targets;
    if (options_.publish)
        targets = TargetsFromSettings(cfg_);
    std::string key;
    Job job;
    job.pdf = pdf;
    if (!export_dir.empty()) {
        std::error_code ec;
        fs::create_directories(export_dir, ec);
        targets.export_requested = true;
        targets.export_folder = export_dir;
    }
    int slot = SubmitJob(cfg_, table_, request, targets, false, &queue_, &key, this);
    if (slot < 0) {
        std::fprintf(stderr, "vellumark-batch: %s: the job could not be started\n", pdf_arg.c_str());
        return false;
    }
    job.key = key;
    job.export_dir = targets.export_folder;
    jobs_.push_back(job);
    return true;
}

bool BatchRun::Resume()
{
    CPdfItemList unfinished(false);
    unfinished.SetTexts(cfg_.m_process_msg, cfg_.m_error_msg);
    unfinished.Build(cfg_.m_meta_ini);
    bool ok = true;
    for (const std::string& key : options_.resume_keys) {
        if (unfinished.FindRowByKey(key) < 0) {
            std::fprintf(stderr, "vellumark-batch: %s: no unfinished job with this key\n", key.c_str());
            ok = false;
        }
    }
    for (int row = 0; row < unfinished.RowCount(); ++row) {
        const PdfItem* item = unfinished.Item(row);
        bool wanted = options_.resume_keys.empty();
        for (const std::string& key : options_.resume_keys)
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
        return ok && options_.resume_keys.empty();
    }
    RelaunchSelected(cfg_, table_, unfinished, -1, this);
    // The resumed rows join the rows this run shows.
    for (int row = unfinished.RowCount() - 1; row >= 0; --row)
        if (unfinished.IsSelected(row))
            queue_.AddRow(queue_.RowCount(), unfinished.TakeRow(row), false);
    return ok;
}

void BatchRun::TakeIncomplete()
{
    std::vector<std::string> keys;
    {
        std::lock_guard<std::mutex> lock(incomplete_lock_);
        keys.swap(incomplete_);
    }
    for (const std::string& key : keys)
        for (Job& job : jobs_)
            if (job.key == key)
                job.ended_early = true;
}

void BatchRun::Poll()
{
    queue_.Refresh(table_);
    TakeIncomplete();
    bool stop_all = interrupted.load();
    std::vector<JobLine> lines;
    for (Job& job : jobs_) {
        int slot = table_.FindSlotByKey(job.key);
        int row = queue_.FindRowByKey(job.key);
        if (slot >= 0) {
            int32_t progress = table_.Slot(slot).progress.load();
            bool wanted = options_.stop_after_progress >= 0 && job.start_progress < options_.stop_after_progress &&
                          progress >= options_.stop_after_progress;
            if ((wanted || stop_all) && !job.stop_requested && table_.Slot(slot).state.load() != JOB_STATE_FREE) {
                table_.RequestStop(slot);
                job.stop_requested = true;
            }
        }
        JobLine line;
        line.key = job.key;
        line.name = CPdfItemList::FileNameOf(job.pdf);
        if (row >= 0) {
            line.progress = queue_.Item(row)->progress;
            line.state = queue_.CellText(row, CPdfItemList::kColState);
        }
        // The state text of an ended job reads the same whether it finished or not.
        if (job.ended_early)
            line.state = "ended early";
        lines.push_back(line);
    }
    view_.Show(lines);
    table_.RecountRunning();
    table_.StartPendingJobs();
}

int BatchRun::Report()
{
    int failed = failures_;
    for (const Job& job : jobs_) {
        int slot = table_.FindSlotByKey(job.key);
        bool finished = slot >= 0 && table_.Slot(slot).progress.load() == kProgressFinished &&
                        table_.Slot(slot).state.load() == JOB_STATE_FREE && !job.ended_early;
        if (!finished) {
            ++failed;
            std::fprintf(stderr, "vellumark-batch: %s: job %s ended early (--verbose shows why); resume it with "
                         "--resume %s\n",
                         job.pdf.c_str(), job.key.c_str(), job.key.c_str());
            continue;
        }
        std::string page = JoinPath(JoinPath(cfg_.m_books_folder, job.key), "index.html");
        if (!job.export_dir.empty()) {
            std::string exported = JoinPath(job.export_dir, "index.html");
            if (!fs::exists(exported)) {
                ++failed;
                std::fprintf(stderr, "vellumark-batch: %s: the export into %s failed\n", job.pdf.c_str(),
                             job.export_dir.c_str());
                continue;
            }
            page = exported;
        }
        std::printf("%s\n", page.c_str());
    }
    std::fflush(stdout);
    return failed == 0 ? 0 : 1;
}
