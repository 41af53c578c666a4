// One summary of a farm: every task's results merged, one verdict per PDF.
#pragma once

#include <string>
#include <vector>

#include "batch/ResultLog.h"

struct FarmSummary {
    int items = 0;       // PDFs with any line
    int done = 0;
    int failed = 0;
    int unfinished = 0;  // a job was started and no line says how it ended (a killed task)
    int not_started = 0; // in a task's list, without any line (its task was stopped first)
    long pages = 0;      // of the books done
    double seconds = 0;  // every attempt's time, failed ones and repeats included
    int tasks = 0;       // results files read
    int skipped_lines = 0;
    std::vector<ItemResult> failures;         // the latest failure of each failed PDF
    std::vector<ItemResult> unfinished_items; // the started line of each unfinished PDF
    std::vector<std::string> not_started_items;
};

// Merges results (any order of tasks; each task's lines in the order written). A PDF's
// verdict follows its latest SHA-256: done when a line says so for those bytes, else
// failed when its latest attempt failed, else unfinished. A PDF changed since it was
// done counts by its new bytes.
FarmSummary MergeResults(const std::vector<ItemResult>& results);

// The results files of a farm folder: FARM/task-*/results.jsonl, sorted.
std::vector<std::string> FarmResultFiles(const std::string& farm);
// Merges the results files, and counts the PDFs of the lists the tasks noted that have
// no line at all as not started (an item counts in `items` either way).
FarmSummary ReadFarm(const std::string& farm);

// (PDF path, SHA-256) of every item done in the farm folder: what --only-failed skips.
std::vector<std::pair<std::string, std::string>> DoneItems(const std::vector<ItemResult>& results);

std::string SummaryText(const FarmSummary& summary);
std::string SummaryJson(const FarmSummary& summary);
