#include "tests/engine/RastrixProcess.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <jpeglib.h>
#include <png.h>
#include <poll.h>
#include <spawn.h>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

#include "tests/helpers/TempHome.h"

extern char** environ;
namespace fs = std::filesystem;

RunResult RunRastrix(const std::vector<std::string>& args, const std::vector<std::string>& env, int timeout_seconds)
{
    RunResult result;
    std::string program = (ProgramDir() / "rastrix").string();
    std::vector<char*> argv{program.data()};
    std::vector<std::string> args_copy = args;
    for (std::string& a : args_copy)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    std::vector<std::string> env_strings;
    for (char** e = environ; *e; ++e)
        env_strings.emplace_back(*e);
    for (const std::string& extra : env)
        env_strings.push_back(extra);
    std::vector<char*> envp;
    for (std::string& e : env_strings)
        envp.push_back(e.data());
    envp.push_back(nullptr);

    int out_pipe[2], err_pipe[2];
    if (pipe2(out_pipe, O_CLOEXEC) != 0 || pipe2(err_pipe, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe failed");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out_pipe[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err_pipe[1], 2);
    pid_t pid;
    int rc = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    close(out_pipe[1]);
    close(err_pipe[1]);
    if (rc != 0) {
        close(out_pipe[0]);
        close(err_pipe[0]);
        throw std::runtime_error("cannot start " + program);
    }
    pollfd fds[2] = {{out_pipe[0], POLLIN, 0}, {err_pipe[0], POLLIN, 0}};
    std::string* sinks[2] = {&result.out, &result.err};
    int open_count = 2;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeout_seconds);
    bool timed_out = false;
    while (open_count > 0) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            timed_out = true;
            kill(pid, SIGKILL);
            for (pollfd& p : fds)
                if (p.fd >= 0)
                    close(p.fd);
            break;
        }
        if (poll(fds, 2, static_cast<int>(left.count())) < 0)
            break;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            char buf[4096];
            ssize_t n = read(fds[i].fd, buf, sizeof buf);
            if (n > 0) {
                sinks[i]->append(buf, static_cast<size_t>(n));
            } else {
                close(fds[i].fd);
                fds[i].fd = -1;
                --open_count;
            }
        }
    }
    int status = 0;
    waitpid(pid, &status, 0);
    result.exit_code = WIFEXITED(status) && !timed_out ? WEXITSTATUS(status) : -1;
    return result;
}

int StartRastrix(const std::vector<std::string>& args)
{
    std::string program = (ProgramDir() / "rastrix").string();
    std::vector<std::string> args_copy = args;
    std::vector<char*> argv{program.data()};
    for (std::string& a : args_copy)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    int rc = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    return rc == 0 ? pid : -1;
}

const fs::path& FixtureDir()
{
    static const fs::path dir = [] {
        fs::path built = ProgramDir().parent_path() / "tests" / "engine-fixtures";
        if (fs::exists(built / ".stamp"))
            return built;
        std::string pattern = (fs::temp_directory_path() / "rastrix-fixtures-XXXXXX").string();
        if (!mkdtemp(pattern.data()))
            throw std::runtime_error("cannot create the fixture folder");
        std::string command = "python3 '" + (SourceDir() / "tests/pdfgen/pdfgen.py").string() + "' fixtures '" +
                              pattern + "'";
        if (std::system(command.c_str()) != 0)
            throw std::runtime_error("the test document generator failed");
        std::atexit([] {
            std::error_code ec;
            fs::remove_all(FixtureDir(), ec);
        });
        return fs::path(pattern);
    }();
    return dir;
}

std::string Fixture(const std::string& name)
{
    return (FixtureDir() / name).string();
}

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t nl = text.find('\n', start);
        if (nl == std::string::npos) {
            lines.push_back(text.substr(start));
            break;
        }
        lines.push_back(text.substr(start, nl - start));
        start = nl + 1;
    }
    return lines;
}

std::vector<std::string> FilesIn(const fs::path& folder)
{
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(folder, ec))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

namespace {
struct JpegError {
    jpeg_error_mgr base;
    jmp_buf jump;
};

void OnError(j_common_ptr cinfo)
{
    longjmp(reinterpret_cast<JpegError*>(cinfo->err)->jump, 1);
}

bool Decode(FILE* f, Raster& out, int& first_quant)
{
    jpeg_decompress_struct cinfo;
    JpegError err;
    cinfo.err = jpeg_std_error(&err.base);
    err.base.error_exit = OnError;
    if (setjmp(err.jump)) {
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    jpeg_create_decompress(&cinfo);
    jpeg_stdio_src(&cinfo, f);
    jpeg_read_header(&cinfo, TRUE);
    first_quant = cinfo.quant_tbl_ptrs[0] ? cinfo.quant_tbl_ptrs[0]->quantval[0] : -1;
    jpeg_start_decompress(&cinfo);
    out.width = static_cast<int>(cinfo.output_width);
    out.height = static_cast<int>(cinfo.output_height);
    out.channels = cinfo.output_components;
    out.pixels.resize(static_cast<size_t>(out.width) * out.height * out.channels);
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW row = &out.pixels[static_cast<size_t>(cinfo.output_scanline) * out.width * out.channels];
        jpeg_read_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    return true;
}

bool ReadJpegWithQuant(const fs::path& path, Raster& out, int& first_quant)
{
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f)
        return false;
    bool ok = Decode(f, out, first_quant);
    std::fclose(f);
    return ok;
}
} // namespace

bool ReadJpeg(const fs::path& path, Raster& out)
{
    int quant = -1;
    return ReadJpegWithQuant(path, out, quant);
}

int JpegFirstQuantStep(const fs::path& path)
{
    Raster r;
    int quant = -1;
    return ReadJpegWithQuant(path, r, quant) ? quant : -1;
}

bool ReadPng(const fs::path& path, Raster& out)
{
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str()))
        return false;
    image.format = PNG_FORMAT_RGBA;
    out.width = static_cast<int>(image.width);
    out.height = static_cast<int>(image.height);
    out.channels = 4;
    out.pixels.resize(PNG_IMAGE_SIZE(image));
    bool ok = png_image_finish_read(&image, nullptr, out.pixels.data(), 0, nullptr) != 0;
    png_image_free(&image);
    return ok;
}
