// Whether a finished job reached every publishing target it was given. The worker goes
// on without a target it cannot log in to, so a finished job need not be a published
// one: its notes tell ("published at ADDRESS" for each target reached).
#pragma once

#include <string>
#include <vector>

class AppConfig;

// A publishing target of a job, with the book's address there.
struct JobTarget {
    std::string name;         // "ftp" or "service"
    std::string description;  // for a message: "the FTP server HOST/FOLDER", "the publishing service HOST"
    std::string address;      // the book's page on that target
    bool reached = false;     // a note of the worker reports it published there
};

// The targets the job section of `key` names, each marked reached or not by `notes`.
std::vector<JobTarget> JobTargetsOf(const AppConfig& cfg, const std::string& key,
                                    const std::vector<std::string>& notes);

// The targets of job `key` that no note of its worker reports as reached, each
// described for a message. Empty when every target was reached or none was set.
std::vector<std::string> MissedTargets(const AppConfig& cfg, const std::string& key,
                                       const std::vector<std::string>& notes);
