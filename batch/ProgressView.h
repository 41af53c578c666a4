// Shows the jobs of a batch run on standard error: one redrawn bar per job on a
// terminal, plain lines (one whenever a job's progress or state changes) otherwise.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct JobLine {
    std::string key;
    std::string name;    // the PDF's file name
    int32_t progress = 0;
    std::string state;   // state text
    bool ended = false;  // finished or ended early: its line no longer changes
};

class ProgressView {
public:
    explicit ProgressView(bool terminal) : terminal_(terminal) {}
    // `queued`: PDFs not submitted yet. On a terminal at most kMaxBars jobs get a bar,
    // those still running first; the others are counted on one summary line.
    void Show(const std::vector<JobLine>& lines, size_t queued = 0);
    static constexpr size_t kMaxBars = 20;
    // Leaves the bars in place and moves below them.
    void Finish();

    // "[#####.....]  45.3%" for a progress value.
    static std::string Bar(int32_t progress, int width);

private:
    bool terminal_;
    int drawn_ = 0;
    std::vector<std::string> last_;
};
