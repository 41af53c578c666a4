// What one farm task converts: its slice of the list, less (with --only-failed) the items
// a task of the farm has done already, each with the job an earlier run of this task
// started for it and never finished (a killed task), which is resumed rather than begun
// again.
#pragma once

#include <string>
#include <vector>

#include "batch/FarmList.h"

struct FarmItem {
    std::string pdf;         // absolute
    std::string sha256;      // empty when the file cannot be read
    std::string resume_key;  // a job started for these bytes by this task before, or empty
};

struct FarmPlan {
    std::vector<FarmItem> items;
    size_t already_done = 0;  // items of the slice left out by --only-failed
};

// The file in a task's folder that names the list the task works on, so that the report
// can name the PDFs no task has taken yet.
inline constexpr const char* kTaskListNote = "list";

// `farm` is the farm folder, `task_results` this task's results file; the list's path is
// noted beside the results.
bool PlanFarm(const std::string& list_file, const Slice& slice, bool only_failed, const std::string& farm,
              const std::string& task_results, FarmPlan& plan, std::string& error);
