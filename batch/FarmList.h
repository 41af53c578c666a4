// The backlog of a farm: the list of PDFs and the slice of it one task converts. The
// same list is read by every task; task I of N takes the items whose position (counted
// from 0 among the list's items) modulo N is I, so the tasks share the work without
// talking to each other and each item belongs to exactly one task.
#pragma once

#include <functional>
#include <string>
#include <vector>

struct Slice {
    int index = 0;  // 0 .. count-1
    int count = 1;
};

// The items of a list file's text: one path a line; blank lines and lines whose first
// non-blank character is '#' are skipped, blanks around a path and a CR before the line
// break are dropped. A relative path is taken from `base` (the list file's folder).
std::vector<std::string> ParseList(const std::string& text, const std::string& base);

// Reads a list file; false with `error` when the file itself cannot be read.
bool ReadList(const std::string& file, std::vector<std::string>& items, std::string& error);

// The positions of the items among `total` that belong to `slice`.
std::vector<size_t> SlicePositions(size_t total, const Slice& slice);

// "I/N" with 0 <= I < N.
bool ParseSlice(const std::string& text, Slice& slice, std::string& error);

// Reads an environment variable; empty when unset. Tests pass their own.
using EnvReader = std::function<std::string(const std::string&)>;
EnvReader ProcessEnv();

// The count variable read when --slice-from-env names only the index variable.
inline constexpr const char* kDefaultCountVariable = "VELLUMARK_TASK_COUNT";

// The slice named by environment variables: `spec` is "NAME" or "NAME,COUNT_NAME"; the
// index is NAME's value counted from 0, the count COUNT_NAME's (VELLUMARK_TASK_COUNT
// when not named).
bool SliceFromEnv(const std::string& spec, const EnvReader& env, Slice& slice, std::string& error);

// Inside a Slurm array task: SLURM_ARRAY_TASK_ID counted from SLURM_ARRAY_TASK_MIN in
// steps of SLURM_ARRAY_TASK_STEP (1 when unset), out of SLURM_ARRAY_TASK_COUNT. Returns
// false without an error outside an array task; false with an error when the variables
// do not describe a range the task's index lies in.
bool SliceFromSlurm(const EnvReader& env, Slice& slice, std::string& error);
