#include "engine/PagePool.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <cstdlib>
#include <memory>
#include <thread>
#include <unistd.h>

#include "engine/PageWarnings.h"
#include "engine/PdfOpener.h"
#include "engine/TextUtil.h"

namespace {

constexpr int kPagesPerOpen = 40;

// The fonts and pictures each of `workers` keeps between pages: together about what one
// shared store would hold, but each enough for a full-page picture.
size_t WorkerStoreBytes(unsigned workers)
{
    return std::max<size_t>(MupdfContext::kDefaultStoreBytes / workers, size_t{32} << 20);
}

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
    // One line that can never pass for a progress line, whatever it quotes.
    WriteAll(STDERR_FILENO, "rastrix: " + DiagnosticLine(text, 2000) + "\n");
}

void ProgressReporter::Warning(const std::string& text)
{
    std::lock_guard<std::mutex> lock(mutex_);
    WriteAll(STDERR_FILENO, "rastrix: warning: " + DiagnosticLine(text, 2000) + "\n");
}

void ProgressReporter::RepairWarning()
{
    // One engine process is one conversion step, which may run several page runs.
    static std::atomic<bool> reported{false};
    if (!reported.exchange(true))
        Warning("the file is damaged and was repaired");
}

int ProgressReporter::Done() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return done_;
}

int PageTimeLimitSeconds()
{
    if (const char* env = std::getenv("RASTRIX_PAGE_SECONDS")) {
        int n = std::atoi(env);
        if (n >= 1 && n <= 86400)
            return n;
    }
    return 120;
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

int RunPages(const std::string& pdf_path, const std::vector<int>& pages, unsigned threads, const PageTask& task,
             ProgressReporter& progress)
{
    if (pages.empty())
        return 0;
    if (threads == 0)
        threads = DefaultWorkerCount();
    if (threads > pages.size())
        threads = static_cast<unsigned>(pages.size());

    std::atomic<size_t> next{0};
    std::atomic<int> failed{0};

    // One cookie per worker; the watchdog aborts a page that runs past the limit.
    using Clock = std::chrono::steady_clock;
    struct Slot {
        fz_cookie cookie;
        std::atomic<int64_t> started_ms{-1};   // -1 while the worker is between pages
    };
    std::vector<Slot> slots(threads);
    for (Slot& slot : slots)
        std::memset(&slot.cookie, 0, sizeof slot.cookie);
    const int64_t limit_ms = int64_t(PageTimeLimitSeconds()) * 1000;
    auto now_ms = [] {
        return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now().time_since_epoch()).count();
    };

    auto worker = [&](Slot& slot) {
        MupdfContext ctx(WorkerStoreBytes(threads));
        if (!ctx.Get()) {
            progress.Error("cannot start a renderer thread: out of memory");
            return;
        }
        std::string error;
        // The document keeps every object it has read, and the worker's store keeps the
        // images and fonts read through it; opening the document afresh now and then
        // and letting go of what the old one cached keeps a long run from growing with
        // the page count (pages rarely share images, and fonts reload quickly).
        std::unique_ptr<DocumentHandle> doc;
        int pages_on_doc = 0;
        auto open = [&]() {
            if (doc) {
                doc.reset();
                fz_empty_store(ctx.Get());
            }
            int page_count = 0;
            doc = std::make_unique<DocumentHandle>(ctx.Get(), OpenPdf(ctx.Get(), pdf_path, page_count, error));
            pages_on_doc = 0;
            if (!doc->Get()) {
                progress.Error(error);
                return false;
            }
            if (DocumentWasRepaired(ctx.Get(), doc->Get()))
                progress.RepairWarning();
            return true;
        };
        PageWarnings warnings(ctx.Get());
        if (!open())
            return;
        for (size_t i = next.fetch_add(1); i < pages.size(); i = next.fetch_add(1)) {
            if (++pages_on_doc > kPagesPerOpen && !open()) {
                // This page was taken; it counts as failed like the ones nobody takes.
                failed.fetch_add(1);
                progress.PageDone();
                return;
            }
            error.clear();
            std::memset(&slot.cookie, 0, sizeof slot.cookie);
            slot.started_ms.store(now_ms());
            warnings.Begin();
            bool ok = task(ctx.Get(), doc->Get(), pages[i], &slot.cookie, error);
            std::string damage = warnings.End(slot.cookie);
            slot.started_ms.store(-1);
            if (!ok && slot.cookie.abort)
                error = "stopped after " + std::to_string(limit_ms / 1000) + " seconds (" + error + ")";
            if (!ok) {
                failed.fetch_add(1);
                progress.Error("page " + std::to_string(pages[i] + 1) + ": " + error);
            } else if (!damage.empty()) {
                progress.Warning("page " + std::to_string(pages[i] + 1) + ": " + damage);
            }
            // MuPDF also repairs a file when it first meets a broken object in a page.
            if (DocumentWasRepaired(ctx.Get(), doc->Get()))
                progress.RepairWarning();
            progress.PageDone();
        }
    };

    std::vector<std::thread> pool;
    pool.reserve(threads);
    for (unsigned t = 0; t < threads; ++t)
        pool.emplace_back(worker, std::ref(slots[t]));

    std::mutex watch_mutex;
    std::condition_variable watch_wake;
    bool finished = false;
    std::thread watchdog([&] {
        std::unique_lock<std::mutex> lock(watch_mutex);
        while (!watch_wake.wait_for(lock, std::chrono::milliseconds(200), [&] { return finished; })) {
            int64_t now = now_ms();
            for (Slot& slot : slots) {
                int64_t started = slot.started_ms.load();
                if (started >= 0 && now - started > limit_ms)
                    slot.cookie.abort = 1;
            }
        }
    });
    for (std::thread& t : pool)
        t.join();
    {
        std::lock_guard<std::mutex> lock(watch_mutex);
        finished = true;
    }
    watch_wake.notify_one();
    watchdog.join();

    // Pages no worker could take (every worker failed to open the document) count as failed.
    size_t taken = next.load();
    if (taken < pages.size())
        failed.fetch_add(static_cast<int>(pages.size() - taken));
    return failed.load();
}
