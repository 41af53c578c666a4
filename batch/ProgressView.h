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
};

class ProgressView {
public:
    explicit ProgressView(bool terminal) : terminal_(terminal) {}
    void Show(const std::vector<JobLine>& lines);
    // Leaves the bars in place and moves below them.
    void Finish();

    // "[#####.....]  45.3%" for a progress value.
    static std::string Bar(int32_t progress, int width);

private:
    bool terminal_;
    int drawn_ = 0;
    std::vector<std::string> last_;
};
