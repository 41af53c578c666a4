#include "engine/PagePool.h"

#include <atomic>
#include <cstdlib>
#include <thread>
#include <unistd.h>

#include "engine/PdfOpener.h"

namespace {

void WriteAll(int fd, const std::string& text)
{
    const char* p = text.data();
    size_t left = text.size();
    while (left > 0) {
        ssize_t n = write(fd, p, left);
        if (n <= 0)
            return;   // nobody reads our errors any more: nothing better to do
        p += n;
        left -= static_cast<size_t>(n);
    }
}

} // namespace

void ProgressReporter::PageDone()
{
    std::lock_guard<std::mutex> lock(mutex_);
    ++done_;
    if (verbose_)
        WriteAll(STDERR_FILENO, "PN:" + std::to_string(done_) + "/" + std::to_string(total_) + "\r\n");
}

void ProgressReporter::Error(const std::string& text)
{
    std::lock_guard<std::mutex> lock(mutex_);
    WriteAll(STDERR_FILENO, "rastrix: " + text + "\n");
}

int ProgressReporter::Done() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return done_;
}

unsigned DefaultWorkerCount()
{
    if (const char* env = std::getenv("RASTRIX_THREADS")) {
        int n = std::atoi(env);
        if (n >= 1 && n <= 64)
            return static_cast<unsigned>(n);
    }
    unsigned n = std::thread::hardware_concurrency();
    return n == 0 ? 1 : n;
}

int RunPages(const MupdfContext& base, const std::string& pdf_path, const std::vector<int>& pages,
             unsigned threads, const PageTask& task, ProgressReporter& progress)
{
    if (pages.empty())
        return 0;
    if (threads == 0)
        threads = DefaultWorkerCount();
    if (threads > pages.size())
        threads = static_cast<unsigned>(pages.size());

    std::atomic<size_t> next{0};
    std::atomic<int> failed{0};

    auto worker = [&]() {
        ThreadContext ctx(base.Get());
        if (!ctx.Get()) {
            progress.Error("cannot start a renderer thread: out of memory");
            return;
        }
        int page_count = 0;
        std::string error;
        DocumentHandle doc(ctx.Get(), OpenPdf(ctx.Get(), pdf_path, page_count, error));
        if (!doc.Get()) {
            progress.Error(error);
            return;
        }
        for (size_t i = next.fetch_add(1); i < pages.size(); i = next.fetch_add(1)) {
            error.clear();
            if (!task(ctx.Get(), doc.Get(), pages[i], error)) {
                failed.fetch_add(1);
                progress.Error("page " + std::to_string(pages[i] + 1) + ": " + error);
            }
            progress.PageDone();
        }
    };

    std::vector<std::thread> pool;
    pool.reserve(threads);
    for (unsigned t = 0; t < threads; ++t)
        pool.emplace_back(worker);
    for (std::thread& t : pool)
        t.join();

    // Pages no worker could take (every worker failed to open the document) count as failed.
    size_t taken = next.load();
    if (taken < pages.size())
        failed.fetch_add(static_cast<int>(pages.size() - taken));
    return failed.load();
}
