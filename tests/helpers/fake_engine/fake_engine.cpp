// A stand-in for the conversion engine in tests of the engine runner. Its behaviour is
// chosen by environment variables, so the command lines under test stay unchanged:
//   FAKE_ENGINE_MODE    progress (default) | raw | crash | hang | hang_ignore_term | big | fds
//   FAKE_ENGINE_PAGES   page count of the progress lines (default 3)
//   FAKE_ENGINE_LAST    last page reported (default: the page count)
//   FAKE_ENGINE_DELAY   milliseconds between writes (default 0); for "fds" how long to stay
//   FAKE_ENGINE_TEXT    raw: bytes written as they are; a '\x1f' byte splits the text into
//                       separate writes with FAKE_ENGINE_DELAY between them
//   FAKE_ENGINE_STREAM  raw and big: 1 or 2 (default 2)
//   FAKE_ENGINE_BYTES   big: bytes of filler written before one progress line
//   FAKE_ENGINE_EXIT    exit code (default 0)
//   FAKE_ENGINE_ARGS    file that receives argv[1..], each ended by a NUL byte
//   FAKE_ENGINE_FDS     fds: file that receives "<fd> <target>" per open descriptor
#include <dirent.h>
#include <signal.h>
#include <sys/resource.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <string>

namespace {

const char* Env(const char* name, const char* fallback) {
    const char* v = getenv(name);
    return v && *v ? v : fallback;
}

int EnvInt(const char* name, int fallback) { return atoi(Env(name, std::to_string(fallback).c_str())); }

void SleepMs(int ms) {
    if (ms > 0) usleep(static_cast<useconds_t>(ms) * 1000);
}

void WriteAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        ssize_t n = write(fd, data, size);
        if (n <= 0) return;
        data += n;
        size -= static_cast<size_t>(n);
    }
}

void WriteText(int fd, const std::string& text) { WriteAll(fd, text.data(), text.size()); }

void DumpArgs(int argc, char** argv) {
    const char* path = getenv("FAKE_ENGINE_ARGS");
    if (!path) return;
    FILE* f = fopen(path, "wb");
    if (!f) return;
    for (int i = 1; i < argc; ++i) fwrite(argv[i], 1, strlen(argv[i]) + 1, f);
    fclose(f);
}

void DumpFds() {
    const char* path = getenv("FAKE_ENGINE_FDS");
    if (!path) return;
    std::string out;
    DIR* dir = opendir("/proc/self/fd");
    if (!dir) return;
    int own = dirfd(dir);
    while (dirent* e = readdir(dir)) {
        if (e->d_name[0] == '.') continue;
        int fd = atoi(e->d_name);
        if (fd == own) continue;
        char target[512] = {};
        std::string link = std::string("/proc/self/fd/") + e->d_name;
        ssize_t n = readlink(link.c_str(), target, sizeof(target) - 1);
        out += std::to_string(fd) + " " + (n > 0 ? std::string(target, static_cast<size_t>(n)) : "?") + "\n";
    }
    closedir(dir);
    // Written under a temporary name and renamed, so a reader never sees half a list.
    std::string tmp = std::string(path) + ".tmp";
    if (FILE* f = fopen(tmp.c_str(), "wb")) {
        fwrite(out.data(), 1, out.size(), f);
        fclose(f);
        rename(tmp.c_str(), path);
    }
}

}  // namespace

int main(int argc, char** argv) {
    DumpArgs(argc, argv);
    const std::string mode = Env("FAKE_ENGINE_MODE", "progress");
    const int delay = EnvInt("FAKE_ENGINE_DELAY", 0);
    const int stream = EnvInt("FAKE_ENGINE_STREAM", 2) == 1 ? 1 : 2;

    if (mode == "progress") {
        int pages = EnvInt("FAKE_ENGINE_PAGES", 3);
        int last = EnvInt("FAKE_ENGINE_LAST", pages);
        for (int i = 1; i <= last; ++i) {
            WriteText(2, "PN:" + std::to_string(i) + "/" + std::to_string(pages) + "\r\n");
            SleepMs(delay);
        }
    } else if (mode == "raw") {
        std::string text = Env("FAKE_ENGINE_TEXT", "");
        size_t start = 0;
        for (;;) {
            size_t cut = text.find('\x1f', start);
            WriteText(stream, text.substr(start, cut == std::string::npos ? std::string::npos : cut - start));
            if (cut == std::string::npos) break;
            SleepMs(delay);
            start = cut + 1;
        }
    } else if (mode == "crash") {
        WriteText(2, "PN:1/4\n");
        rlimit no_core{0, 0};  // no core file left in the test folder
        setrlimit(RLIMIT_CORE, &no_core);
        raise(SIGSEGV);
    } else if (mode == "hang" || mode == "hang_ignore_term") {
        if (mode == "hang_ignore_term") signal(SIGTERM, SIG_IGN);
        for (;;) pause();
    } else if (mode == "big") {
        std::string filler(4096, 'x');
        for (int left = EnvInt("FAKE_ENGINE_BYTES", 1 << 20); left > 0; left -= 4096) {
            WriteAll(stream, filler.data(), left < 4096 ? static_cast<size_t>(left) : filler.size());
        }
        WriteText(stream, "\nPN:2/2\n");
    } else if (mode == "fds") {
        DumpFds();
        SleepMs(delay);
    }
    return EnvInt("FAKE_ENGINE_EXIT", 0);
}
