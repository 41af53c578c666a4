#include "batch/FarmReport.h"
#include "batch/FarmList.h"
#include "batch/FarmPlan.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>

namespace fs = std::filesystem;

namespace {
std::string ReadFileText(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

struct PdfHistory {
    std::string latest_sha;
    std::string latest_time;
    const ItemResult* done = nullptr;     // for latest_sha
    const ItemResult* failure = nullptr;  // latest, for latest_sha
    const ItemResult* started = nullptr;  // latest, for latest_sha
};

std::string Seconds(double seconds)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", seconds);
    return text;
}
}  // namespace

FarmSummary MergeResults(const std::vector<ItemResult>& results)
{
    // The latest bytes of each PDF: the SHA-256 of its newest line (times compare as
    // text; lines of one second keep their order).
    std::map<std::string, PdfHistory> pdfs;
    for (const ItemResult& r : results) {
        PdfHistory& h = pdfs[r.pdf];
        if (h.latest_time.empty() || r.time >= h.latest_time) {
            h.latest_time = r.time;
            h.latest_sha = r.sha256;
        }
    }
    FarmSummary summary;
    for (const ItemResult& r : results) {
        if (r.outcome != kOutcomeStarted)
            summary.seconds += r.seconds;
        PdfHistory& h = pdfs[r.pdf];
        if (r.sha256 != h.latest_sha)
            continue;
        if (r.outcome == kOutcomeDone && !h.done)
            h.done = &r;
        else if (r.outcome == kOutcomeFailed)
            h.failure = &r;
        else if (r.outcome == kOutcomeStarted)
            h.started = &r;
    }
    for (const auto& [pdf, h] : pdfs) {
        ++summary.items;
        if (h.done) {
            ++summary.done;
            summary.pages += h.done->pages;
        } else if (h.failure && (!h.started || h.failure->time >= h.started->time)) {
            ++summary.failed;
            summary.failures.push_back(*h.failure);
        } else if (h.started) {
            ++summary.unfinished;
            summary.unfinished_items.push_back(*h.started);
        } else {
            // Only lines of unknown outcome: nothing says how it went.
            ++summary.unfinished;
        }
    }
    return summary;
}

std::vector<std::string> FarmResultFiles(const std::string& farm)
{
    std::vector<std::string> files;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(farm, ec)) {
        const std::string name = entry.path().filename().string();
        const fs::path results = entry.path() / "results.jsonl";
        if (name.rfind("task-", 0) == 0 && fs::is_regular_file(results, ec))
            files.push_back(results.string());
    }
    std::sort(files.begin(), files.end());
    return files;
}

FarmSummary ReadFarm(const std::string& farm)
{
    std::vector<ItemResult> all;
    int skipped = 0;
    const std::vector<std::string> files = FarmResultFiles(farm);
    for (const std::string& file : files) {
        std::vector<ItemResult> lines = ReadResults(file, &skipped);
        all.insert(all.end(), std::make_move_iterator(lines.begin()), std::make_move_iterator(lines.end()));
    }
    FarmSummary summary = MergeResults(all);
    summary.tasks = static_cast<int>(files.size());
    summary.skipped_lines = skipped;
    std::set<std::string> seen, lists;
    for (const ItemResult& r : all)
        seen.insert(r.pdf);
    for (const std::string& file : files) {
        std::string list = ReadFileText((fs::path(file).parent_path() / kTaskListNote).string());
        while (!list.empty() && list.back() == '\n')
            list.pop_back();
        if (!list.empty())
            lists.insert(list);
    }
    for (const std::string& list : lists) {
        std::vector<std::string> items;
        std::string error;
        ReadList(list, items, error);
        for (const std::string& item : items) {
            const std::string pdf = fs::path(item).lexically_normal().string();
            if (seen.insert(pdf).second) {
                ++summary.items;
                ++summary.not_started;
                summary.not_started_items.push_back(pdf);
            }
        }
    }
    return summary;
}

std::vector<std::pair<std::string, std::string>> DoneItems(const std::vector<ItemResult>& results)
{
    std::set<std::pair<std::string, std::string>> done;
    for (const ItemResult& r : results)
        if (r.outcome == kOutcomeDone && !r.sha256.empty())
            done.emplace(r.pdf, r.sha256);
    return {done.begin(), done.end()};
}

std::string SummaryText(const FarmSummary& s)
{
    std::string text = std::to_string(s.items) + " PDFs from " + std::to_string(s.tasks) + " tasks: " +
                       std::to_string(s.done) + " done, " + std::to_string(s.failed) + " failed, " +
                       std::to_string(s.unfinished) + " unfinished, " + std::to_string(s.not_started) +
                       " not started\n" + std::to_string(s.pages) +
                       " pages in the books done; " + Seconds(s.seconds) + " s of work in all\n";
    if (s.skipped_lines > 0)
        text += std::to_string(s.skipped_lines) + " lines of the results could not be read\n";
    for (const ItemResult& f : s.failures)
        text += "failed: " + f.pdf + ": " + f.error + " (task " + std::to_string(f.task) + ")\n";
    for (const ItemResult& u : s.unfinished_items)
        text += "unfinished: " + u.pdf + ": job " + u.key + " of task " + std::to_string(u.task) +
                " did not end (the task was stopped); run again with --only-failed\n";
    for (const std::string& pdf : s.not_started_items)
        text += "not started: " + pdf + "\n";
    return text;
}

std::string SummaryJson(const FarmSummary& s)
{
    using nlohmann::json;
    json failures = json::array(), unfinished = json::array();
    for (const ItemResult& f : s.failures)
        failures.push_back({{"pdf", f.pdf}, {"sha256", f.sha256}, {"error", f.error}, {"task", f.task}});
    for (const ItemResult& u : s.unfinished_items)
        unfinished.push_back({{"pdf", u.pdf}, {"sha256", u.sha256}, {"key", u.key}, {"task", u.task}});
    const json summary = {{"items", s.items},     {"done", s.done},       {"failed", s.failed},
                          {"unfinished", s.unfinished}, {"not_started", s.not_started},
                          {"pages", s.pages}, {"seconds", s.seconds},
                          {"tasks", s.tasks},     {"skipped_lines", s.skipped_lines},
                          {"failures", failures}, {"unfinished_items", unfinished},
                          {"not_started_items", s.not_started_items}};
    return summary.dump(2, ' ', false, json::error_handler_t::replace) + "\n";
}
