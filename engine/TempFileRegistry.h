// Temporary files in progress, removed by a signal handler when the engine is terminated
// (the caller stops a job by terminating the engine), so no stray temporary file stays in
// a book folder that is later uploaded.
#pragma once

#include <string>

namespace TempFileRegistry {
// Installs the handler for SIGTERM, SIGINT and SIGHUP.
void InstallSignalHandlers();
void Add(const std::string& path);
void Remove(const std::string& path);
} // namespace TempFileRegistry
