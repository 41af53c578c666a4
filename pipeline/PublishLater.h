// Publishing a finished book afterwards, without converting it again.
#pragma once

#include <string>

class AppConfig;

// Makes the finished book `key` ready to be published to the targets configured now:
// its job section takes those targets and the progress of a finished conversion, so that
// resuming the job publishes the book folder as it is. A book already published there is
// compared with what the target holds, and only what changed is sent. Returns an empty
// text on success, else why the book cannot be published.
std::string PrepareLaterPublication(AppConfig& cfg, const std::string& key);
