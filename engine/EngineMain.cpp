#include "engine/EngineMain.h"

#include <cstdio>
#include <string>
#include <unistd.h>

#include "engine/AtomicFile.h"
#include "engine/BookPieces.h"
#include "engine/EngineOptions.h"
#include "engine/LayoutFile.h"
#include "engine/MupdfContext.h"
#include "engine/PageGeometry.h"
#include "engine/PagePool.h"
#include "engine/PageRenderer.h"
#include "engine/PageTiles.h"
#include "engine/PdfOpener.h"
#include "engine/SearchFiles.h"
#include "engine/TextUtil.h"

namespace {

// The caller reads a query's answer with one read into a 4096-byte buffer and looks only
// at the last chunk it got; the texts are therefore capped so that the whole answer is
// written at once and fits in that buffer. The caller keeps at most 1024 characters of
// each text anyway.
constexpr size_t kQueryTextBytes = 1200;
constexpr size_t kAuthorBytes = 200;
constexpr size_t kErrorLineBytes = 2000;

// One line that can never pass for a progress line, whatever path or argument it quotes.
void PrintError(const std::string& text)
{
    std::string line = "rastrix: " + DiagnosticLine(text, kErrorLineBytes) + "\n";
    ssize_t ignored = write(STDERR_FILENO, line.data(), line.size());
    (void)ignored;
}

bool WriteStdout(const std::string& text)
{
    const char* p = text.data();
    size_t left = text.size();
    while (left > 0) {
        ssize_t n = write(STDOUT_FILENO, p, left);
        if (n <= 0)
            return false;
        p += n;
        left -= static_cast<size_t>(n);
    }
    return true;
}

// Kept free of C++ objects with destructors: MuPDF reports errors by longjmp.
bool FirstPageBounds(fz_context* ctx, fz_document* doc, fz_rect* bounds)
{
    fz_page* volatile page = nullptr;
    fz_var(page);
    bool ok = true;
    fz_try(ctx)
    {
        page = fz_load_page(ctx, doc, 0);
        *bounds = fz_bound_page(ctx, page);
    }
    fz_always(ctx)
        fz_drop_page(ctx, page);
    fz_catch(ctx)
        ok = false;
    return ok;
}

std::string Metadata(fz_context* ctx, fz_document* doc, const char* key)
{
    char buf[8192];
    volatile int n = -1;
    fz_try(ctx)
        n = fz_lookup_metadata(ctx, doc, key, buf, sizeof buf);
    fz_catch(ctx)
        n = -1;
    if (n <= 0)
        return std::string();
    buf[sizeof buf - 1] = 0;
    return std::string(buf);
}

// Width and height of page 1 at `dpi`, or false when there is no usable page 1: the size
// its image gets (within the pixel cap), or with `nominal` the size by the rule alone.
bool FirstPagePixels(fz_context* ctx, fz_document* doc, int page_count, double dpi, bool nominal,
                     PagePixels& px, std::string& error)
{
    fz_rect bounds;
    if (page_count < 1) {
        error = "the document has no pages";
        return false;
    }
    if (!FirstPageBounds(ctx, doc, &bounds)) {
        error = "page 1 cannot be read";
        return false;
    }
    bool sized = nominal ? NominalPagePixels(bounds, dpi, px.width, px.height) : ComputePagePixels(bounds, dpi, px);
    if (!sized) {
        error = "page 1 has an empty page box";
        return false;
    }
    return true;
}

int SizeQuery(fz_context* ctx, fz_document* doc, int page_count, const EngineOptions& opts)
{
    PagePixels px;
    std::string error;
    if (!FirstPagePixels(ctx, doc, page_count, opts.resolution, false, px, error)) {
        PrintError(error);
        return kExitFailure;
    }
    return WriteStdout(std::to_string(px.width) + "\n" + std::to_string(px.height) + "\n") ? kExitOk
                                                                                           : kExitFailure;
}

int InfoQuery(fz_context* ctx, fz_document* doc, int page_count, const EngineOptions& opts)
{
    PagePixels px;
    std::string error;
    // The size by the rule, also for a page drawn smaller under the pixel cap: callers
    // derive resolutions from it.
    bool sized = FirstPagePixels(ctx, doc, page_count, opts.resolution, true, px, error);
    std::string out;
    out += OneLine(Metadata(ctx, doc, FZ_META_INFO_TITLE), kQueryTextBytes) + "\n";
    out += OneLine(Metadata(ctx, doc, FZ_META_INFO_AUTHOR), kAuthorBytes) + "\n";
    out += OneLine(Metadata(ctx, doc, FZ_META_INFO_KEYWORDS), kQueryTextBytes) + "\n";
    out += OneLine(Metadata(ctx, doc, FZ_META_INFO_SUBJECT), kQueryTextBytes) + "\n";
    out += std::to_string(page_count) + "\n";
    out += std::to_string(sized ? px.width : 0) + "\n";
    out += std::to_string(sized ? px.height : 0) + "\n";
    // Still seven lines when page 1 is unusable, so the caller parses them as always;
    // the exit code and the line on standard error say what is wrong.
    bool written = WriteStdout(out);
    if (!sized)
        PrintError(error);
    return sized && written ? kExitOk : kExitFailure;
}

// The pages a run works on: all, the one of -page, at most -page-count.
bool SelectPages(const EngineOptions& opts, int page_count, std::vector<int>& pages, std::string& error)
{
    pages.clear();
    if (opts.only_page > 0) {
        if (opts.only_page > page_count) {
            error = "page " + std::to_string(opts.only_page) + " does not exist (the document has " +
                    std::to_string(page_count) + " pages)";
            return false;
        }
        pages.push_back(opts.only_page - 1);
        return true;
    }
    int count = page_count;
    if (opts.page_count_limit >= 0 && opts.page_count_limit < count)
        count = opts.page_count_limit;
    for (int i = 0; i < count; ++i)
        pages.push_back(i);
    return true;
}

int ImageRun(const EngineOptions& opts, const std::vector<int>& pages)
{
    std::string error;
    if (!MakeFolders(opts.image_dir, error)) {
        PrintError(error);
        return kExitFailure;
    }
    RenderSettings settings;
    settings.mode = opts.Mode();
    settings.dpi = opts.resolution;
    settings.jpeg.quality = opts.jpeg_quality;
    settings.jpeg.smoothing = opts.jpeg_smoothing;
    settings.jpeg.dpi = static_cast<int>(opts.resolution + 0.5);
    settings.single_bit_alpha = opts.single_bit_alpha;
    settings.folder = opts.image_dir;
    settings.postfix = opts.postfix;
    TileIndex tiles;
    if (!opts.tile_dir.empty()) {
        if (!MakeFolders(opts.tile_dir, error)) {
            PrintError(error);
            return kExitFailure;
        }
        // Tiles are written straight under their names, which is far cheaper than a
        // temporary file and a rename for each; the index goes first and is written
        // last, so that it never names a tile this run has not finished.
        std::remove(TileIndexPath(opts.tile_dir).c_str());
        settings.tile_dpi = opts.tile_resolution;
        settings.tile_folder = opts.tile_dir;
        settings.tile_index = &tiles;
    }

    ProgressReporter progress(static_cast<int>(pages.size()), opts.verbose);
    int failed = RunPages(opts.pdf_path, pages, DefaultWorkerCount(),
                          [&settings](fz_context* ctx, fz_document* doc, int index, fz_cookie* cookie, std::string& err) {
                              return RenderPageToFiles(ctx, doc, index, settings, cookie, err);
                          },
                          progress);
    // The index lists the pages drawn, also after a failed page, so that it never names
    // a tile that is not there.
    if (settings.tile_index && !tiles.Write(opts.tile_dir, opts.tile_resolution, error)) {
        PrintError(error);
        return kExitFailure;
    }
    return failed == 0 ? kExitOk : kExitFailure;
}

int SearchRun(fz_context* ctx, fz_document* doc, const EngineOptions& opts, const std::vector<int>& pages)
{
    std::string error;
    if (!MakeFolders(opts.output_dir, error)) {
        PrintError(error);
        return kExitFailure;
    }
    const int page_count = static_cast<int>(pages.size());
    DocumentNavigation nav = ReadDocumentNavigation(ctx, doc, page_count);
    std::string folder = opts.output_dir.back() == '/' ? opts.output_dir : opts.output_dir + "/";
    LayoutFileWriter layout(nav, page_count);
    if (!layout.Open(folder + "layout.js", error)) {
        PrintError(error);
        return kExitFailure;
    }
    std::vector<PageText> texts(pages.size());
    ProgressReporter progress(page_count, opts.verbose);
    // Page indices are 0..count-1 here, so a page's text lands in its own slot. The
    // page's geometry comes from the same reading and goes straight to layout.js.
    int failed = RunPages(opts.pdf_path, pages, DefaultWorkerCount(),
                          [&texts, &layout](fz_context* ctx, fz_document* page_doc, int index, fz_cookie* cookie,
                                            std::string& err) {
                              PageLayout geometry;
                              bool ok = ExtractPageText(ctx, page_doc, index, cookie,
                                                        texts[static_cast<size_t>(index)], err, &geometry);
                              layout.Add(index, ok ? geometry : PageLayout());
                              return ok;
                          },
                          progress);
    if (!layout.Finish(error) || !WriteSearchFiles(opts.output_dir, opts.title, opts.description, texts, error)) {
        PrintError(error);
        return kExitFailure;
    }
    RemoveStalePieces(folder, page_count, !nav.outline.empty());
    return failed == 0 ? kExitOk : kExitFailure;
}

} // namespace

const char* EngineVersionText()
{
    return "rastrix 1.3 (Vellumark conversion engine)\n";
}

int RunEngine(const std::vector<std::string>& args)
{
    EngineOptions opts;
    std::string error;
    if (ParseEngineOptions(args, opts, error) != ParseResult::Ok) {
        PrintError(error);
        return kExitUsage;
    }
    if (opts.help)
        return WriteStdout(EngineUsageText()) ? kExitOk : kExitFailure;
    if (opts.version)
        return WriteStdout(EngineVersionText()) ? kExitOk : kExitFailure;

    MupdfContext context;
    if (!context.Get()) {
        PrintError("cannot start the PDF renderer: out of memory");
        return kExitFailure;
    }
    int page_count = 0;
    DocumentHandle doc(context.Get(), OpenPdf(context.Get(), opts.pdf_path, page_count, error));
    if (!doc.Get()) {
        PrintError(error);
        return kExitFailure;
    }
    if (opts.size_query)
        return SizeQuery(context.Get(), doc.Get(), page_count, opts);
    if (opts.info_query)
        return InfoQuery(context.Get(), doc.Get(), page_count, opts);

    std::vector<int> pages;
    if (!SelectPages(opts, page_count, pages, error)) {
        PrintError(error);
        return kExitFailure;
    }
    int result = kExitOk;
    if (opts.text_output) {
        // The search run writes its files for every page, also for a document without
        // pages (then with no page text), so the book always has them.
        std::vector<int> text_pages;
        std::string ignored;
        EngineOptions text_opts = opts;
        text_opts.only_page = 0;
        SelectPages(text_opts, page_count, text_pages, ignored);
        result = SearchRun(context.Get(), doc.Get(), text_opts, text_pages);
    }
    if (opts.Mode() != ImageMode::None) {
        if (pages.empty()) {
            PrintError("the document has no pages");
            return kExitFailure;
        }
        int image_result = ImageRun(opts, pages);
        if (image_result != kExitOk)
            result = image_result;
    }
    return result;
}
