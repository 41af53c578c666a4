// Whether a finished job reached every publishing target it was given. The worker goes
// on without a target it cannot log in to, so a finished job need not be a published
// one: its notes tell ("published at ADDRESS" for each target reached).
#pragma once

#include <string>
#include <vector>

class AppConfig;

// The targets of job `key` (as its job section names them) that no note of its worker
// reports as reached, each described for a message: "the FTP server HOST/FOLDER",
// "the publishing service HOST". Empty when every target was reached or none was set.
std::vector<std::string> MissedTargets(const AppConfig& cfg, const std::string& key,
                                       const std::vector<std::string>& notes);
