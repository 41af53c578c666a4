#include "batch/FarmPlan.h"

#include <algorithm>
#include <filesystem>
#include <map>

#include "batch/FarmReport.h"
#include "batch/ResultLog.h"
#include "config/BookManifest.h"

namespace fs = std::filesystem;

bool PlanFarm(const std::string& list_file, const Slice& slice, bool only_failed, const std::string& farm,
              const std::string& task_results, FarmPlan& plan, std::string& error)
{
    std::vector<std::string> list;
    if (!ReadList(list_file, list, error))
        return false;
    if (!task_results.empty()) {
        const fs::path note = fs::path(task_results).parent_path() / kTaskListNote;
        std::error_code ec;
        WriteFileWhole(note.string(), fs::absolute(list_file, ec).lexically_normal().string() + "\n");
    }
    std::vector<std::pair<std::string, std::string>> done;
    std::map<std::pair<std::string, std::string>, std::string> started;
    if (only_failed) {
        std::vector<ItemResult> all;
        for (const std::string& file : FarmResultFiles(farm)) {
            std::vector<ItemResult> lines = ReadResults(file);
            all.insert(all.end(), lines.begin(), lines.end());
        }
        done = DoneItems(all);
        for (const ItemResult& r : ReadResults(task_results))
            if (r.outcome == kOutcomeStarted && !r.key.empty())
                started[{r.pdf, r.sha256}] = r.key;
    }
    for (size_t position : SlicePositions(list.size(), slice)) {
        FarmItem item;
        std::error_code ec;
        const fs::path absolute = fs::absolute(list[position], ec);
        item.pdf = ec ? list[position] : absolute.lexically_normal().string();
        item.sha256 = fs::is_regular_file(item.pdf, ec) ? FileSha256(item.pdf) : std::string();
        const std::pair<std::string, std::string> id{item.pdf, item.sha256};
        if (only_failed && !item.sha256.empty() && std::binary_search(done.begin(), done.end(), id)) {
            ++plan.already_done;
            continue;
        }
        if (auto found = started.find(id); found != started.end() && !item.sha256.empty())
            item.resume_key = found->second;
        plan.items.push_back(std::move(item));
    }
    return true;
}
