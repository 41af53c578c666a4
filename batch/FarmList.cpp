#include "batch/FarmList.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

namespace {
std::string Trim(const std::string& text)
{
    const size_t first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos)
        return {};
    const size_t last = text.find_last_not_of(" \t\r");
    return text.substr(first, last - first + 1);
}

// A whole non-negative decimal number that fits an int.
bool ParseCount(const std::string& text, long& value)
{
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos || text.size() > 9)
        return false;
    value = std::strtol(text.c_str(), nullptr, 10);
    return true;
}

bool MakeSlice(long index, long count, Slice& slice, std::string& error, const std::string& source)
{
    if (count < 1 || index < 0 || index >= count) {
        error = source + ": the task's index " + std::to_string(index) + " is not below the count of tasks " +
                std::to_string(count);
        return false;
    }
    slice.index = static_cast<int>(index);
    slice.count = static_cast<int>(count);
    return true;
}
}  // namespace

std::vector<std::string> ParseList(const std::string& text, const std::string& base)
{
    std::vector<std::string> items;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        const std::string path = Trim(line);
        if (path.empty() || path[0] == '#')
            continue;
        items.push_back(fs::path(path).is_absolute() || base.empty() ? path : (fs::path(base) / path).string());
    }
    return items;
}

bool ReadList(const std::string& file, std::vector<std::string>& items, std::string& error)
{
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        error = "cannot read the list " + file + ": " + std::strerror(errno);
        return false;
    }
    std::ostringstream text;
    text << in.rdbuf();
    std::error_code ec;
    const fs::path folder = fs::absolute(file, ec).parent_path();
    items = ParseList(text.str(), folder.string());
    return true;
}

std::vector<size_t> SlicePositions(size_t total, const Slice& slice)
{
    std::vector<size_t> positions;
    if (slice.count < 1 || slice.index < 0)
        return positions;
    for (size_t i = static_cast<size_t>(slice.index); i < total; i += static_cast<size_t>(slice.count))
        positions.push_back(i);
    return positions;
}

bool ParseSlice(const std::string& text, Slice& slice, std::string& error)
{
    const size_t slash = text.find('/');
    long index = 0, count = 0;
    if (slash == std::string::npos || !ParseCount(text.substr(0, slash), index) ||
        !ParseCount(text.substr(slash + 1), count)) {
        error = "--slice needs I/N (task I of N, counted from 0)";
        return false;
    }
    return MakeSlice(index, count, slice, error, "--slice " + text);
}

EnvReader ProcessEnv()
{
    return [](const std::string& name) {
        const char* value = std::getenv(name.c_str());
        return value ? std::string(value) : std::string();
    };
}

bool SliceFromEnv(const std::string& spec, const EnvReader& env, Slice& slice, std::string& error)
{
    const size_t comma = spec.find(',');
    const std::string index_name = spec.substr(0, comma);
    const std::string count_name = comma == std::string::npos ? kDefaultCountVariable : spec.substr(comma + 1);
    if (index_name.empty() || count_name.empty()) {
        error = "--slice-from-env needs NAME or NAME,COUNT_NAME";
        return false;
    }
    long index = 0, count = 0;
    const std::string index_text = env(index_name), count_text = env(count_name);
    if (!ParseCount(index_text, index)) {
        error = "--slice-from-env: " + index_name + " holds no task index (\"" + index_text + "\")";
        return false;
    }
    if (!ParseCount(count_text, count)) {
        error = "--slice-from-env: " + count_name + " holds no count of tasks (\"" + count_text + "\")";
        return false;
    }
    return MakeSlice(index, count, slice, error, "--slice-from-env " + spec);
}

bool SliceFromSlurm(const EnvReader& env, Slice& slice, std::string& error)
{
    const std::string id_text = env("SLURM_ARRAY_TASK_ID");
    if (id_text.empty())
        return false;
    const std::string step_text = env("SLURM_ARRAY_TASK_STEP");
    long id = 0, min = 0, count = 0, step = 1;
    if (!ParseCount(id_text, id) || !ParseCount(env("SLURM_ARRAY_TASK_MIN"), min) ||
        !ParseCount(env("SLURM_ARRAY_TASK_COUNT"), count) || (!step_text.empty() && !ParseCount(step_text, step)) ||
        step < 1 || id < min || (id - min) % step != 0) {
        error = "the Slurm array variables do not describe a range of tasks (SLURM_ARRAY_TASK_ID " + id_text +
                ", _MIN " + env("SLURM_ARRAY_TASK_MIN") + ", _COUNT " + env("SLURM_ARRAY_TASK_COUNT") +
                "); give --slice I/N";
        return false;
    }
    return MakeSlice((id - min) / step, count, slice, error, "the Slurm array task " + id_text);
}
