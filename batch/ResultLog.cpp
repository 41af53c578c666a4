#include "batch/ResultLog.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <fstream>
#include <nlohmann/json.hpp>
#include <unistd.h>

using nlohmann::json;

std::string ResultLine(const ItemResult& result)
{
    json addresses = json::object();
    for (const auto& [target, address] : result.addresses)
        addresses[target] = address;
    json line = {{"outcome", result.outcome}, {"pdf", result.pdf},         {"sha256", result.sha256},
                 {"key", result.key},         {"pages", result.pages},     {"seconds", result.seconds},
                 {"addresses", addresses},    {"error", result.error},     {"task", result.task},
                 {"time", result.time}};
    // Invalid UTF-8 in a file name is replaced rather than making the line unwritable.
    return line.dump(-1, ' ', false, json::error_handler_t::replace) + "\n";
}

bool ParseResultLine(const std::string& line, ItemResult& result)
{
    const json parsed = json::parse(line, nullptr, false);
    if (!parsed.is_object() || !parsed.contains("outcome") || !parsed["outcome"].is_string() ||
        !parsed.contains("pdf") || !parsed["pdf"].is_string())
        return false;
    result = ItemResult{};
    result.outcome = parsed["outcome"].get<std::string>();
    result.pdf = parsed["pdf"].get<std::string>();
    auto text = [&](const char* name) {
        return parsed.contains(name) && parsed[name].is_string() ? parsed[name].get<std::string>() : std::string();
    };
    result.sha256 = text("sha256");
    result.key = text("key");
    result.error = text("error");
    result.time = text("time");
    if (parsed.contains("pages") && parsed["pages"].is_number_integer())
        result.pages = parsed["pages"].get<int>();
    if (parsed.contains("seconds") && parsed["seconds"].is_number())
        result.seconds = parsed["seconds"].get<double>();
    if (parsed.contains("task") && parsed["task"].is_number_integer())
        result.task = parsed["task"].get<int>();
    if (parsed.contains("addresses") && parsed["addresses"].is_object())
        for (const auto& [target, address] : parsed["addresses"].items())
            if (address.is_string())
                result.addresses.emplace_back(target, address.get<std::string>());
    return true;
}

bool AppendResult(const std::string& file, const ItemResult& result, std::string& error)
{
    const std::string line = ResultLine(result);
    const int fd = open(file.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        error = "cannot open " + file + ": " + std::strerror(errno);
        return false;
    }
    ssize_t written;
    do {
        written = write(fd, line.data(), line.size());
    } while (written < 0 && errno == EINTR);
    const int write_error = errno;
    close(fd);
    if (written != static_cast<ssize_t>(line.size())) {
        error = "cannot write to " + file + ": " + (written < 0 ? std::strerror(write_error) : "the disk is full");
        return false;
    }
    return true;
}

std::vector<ItemResult> ReadResults(const std::string& file, int* skipped)
{
    std::vector<ItemResult> results;
    std::ifstream in(file, std::ios::binary);
    std::string line;
    while (std::getline(in, line)) {
        // A last line without its line break was cut short.
        if (in.eof())
            break;
        ItemResult result;
        if (ParseResultLine(line, result))
            results.push_back(std::move(result));
        else if (skipped)
            ++*skipped;
    }
    if (!line.empty() && in.eof() && skipped)
        ++*skipped;
    return results;
}

bool WriteFileWhole(const std::string& path, const std::string& text)
{
    const std::string part = path + ".part";
    {
        std::ofstream out(part, std::ios::binary | std::ios::trunc);
        if (!(out << text) || !out.flush())
            return false;
    }
    return std::rename(part.c_str(), path.c_str()) == 0;
}

std::string UtcNow()
{
    const std::time_t now = std::time(nullptr);
    std::tm parts{};
    gmtime_r(&now, &parts);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts);
    return text;
}
