// The engine's work for one command line, apart from process start-up so that it can be
// driven in-process (fuzzing) as well as from main().
#pragma once

#include <string>
#include <vector>

// Exit codes: 0 done, 1 the document or a page failed, 2 the command line is wrong.
enum EngineExit { kExitOk = 0, kExitFailure = 1, kExitUsage = 2 };

int RunEngine(const std::vector<std::string>& args);

// Version text printed by --version.
const char* EngineVersionText();
