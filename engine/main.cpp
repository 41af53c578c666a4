// rastrix: renders PDF pages to images, extracts their text and reports page sizes for
// Vellumark, which starts it as a child process once per kind of output.
#include <csignal>
#include <malloc.h>
#include <string>
#include <vector>

#include "engine/EngineMain.h"
#include "engine/TempFileRegistry.h"

int main(int argc, char** argv)
{
    // A caller that stops reading must not kill us half-way through a file: write errors
    // are reported instead.
    signal(SIGPIPE, SIG_IGN);
    // Every page allocates and frees the same few large blocks (the JPEG encoder's
    // coefficients, MuPDF's page data). By default the allocator hands such blocks back
    // to the system on every free, and the next page takes page faults to get them again
    // (about a twentieth of a run's time). Kept instead: memory still peaks at one page's
    // worth per worker, as before.
    mallopt(M_MMAP_THRESHOLD, 32 << 20);
    mallopt(M_TRIM_THRESHOLD, 64 << 20);
    TempFileRegistry::InstallSignalHandlers();
    std::vector<std::string> args(argv + 1, argv + argc);
    return RunEngine(args);
}
