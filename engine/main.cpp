// rastrix: renders PDF pages to images, extracts their text and reports page sizes for
// Vellumark, which starts it as a child process once per kind of output.
#include <csignal>
#include <string>
#include <vector>

#include "engine/EngineMain.h"
#include "engine/TempFileRegistry.h"

int main(int argc, char** argv)
{
    // A caller that stops reading must not kill us half-way through a file: write errors
    // are reported instead.
    signal(SIGPIPE, SIG_IGN);
    TempFileRegistry::InstallSignalHandlers();
    std::vector<std::string> args(argv + 1, argv + argc);
    return RunEngine(args);
}
