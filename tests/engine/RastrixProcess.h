// Runs the built rastrix as a child process and collects what it prints, and probes the
// images it writes.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

struct RunResult {
    int exit_code = -1;    // -1 when it did not exit normally
    std::string out;       // standard output
    std::string err;       // standard error
};

// Runs build/bin/rastrix with `args` (no shell), extra environment entries "NAME=value".
// A run still going after `timeout_seconds` is killed and reported with exit code -1.
RunResult RunRastrix(const std::vector<std::string>& args, const std::vector<std::string>& env = {},
                     int timeout_seconds = 120);

// Starts rastrix with its output thrown away and returns its process id (or -1); the
// caller waits for it.
int StartRastrix(const std::vector<std::string>& args);

// The folder holding the generated test documents (made once per test program).
const std::filesystem::path& FixtureDir();
std::string Fixture(const std::string& name);

// Lines of `text` split at "\n" (a final empty piece dropped).
std::vector<std::string> Lines(const std::string& text);

// Names of the files in a folder, sorted.
std::vector<std::string> FilesIn(const std::filesystem::path& folder);

struct Raster {
    int width = 0;
    int height = 0;
    int channels = 0;                 // 1 gray, 3 RGB, 4 RGBA
    std::vector<unsigned char> pixels;
    const unsigned char* At(int x, int y) const { return &pixels[(static_cast<size_t>(y) * width + x) * channels]; }
};

// Decodes a JPEG (gray or RGB as stored) or a PNG (always to RGBA). False when unreadable.
bool ReadJpeg(const std::filesystem::path& path, Raster& out);
bool ReadPng(const std::filesystem::path& path, Raster& out);

// The first value of the first quantisation table of a JPEG (the luminance DC step), or -1.
int JpegFirstQuantStep(const std::filesystem::path& path);
