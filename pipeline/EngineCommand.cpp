#include "pipeline/EngineCommand.h"

#include <algorithm>
#include <climits>
#include <cstdio>

namespace {

// Appends pieces to the text and the argument vector together, so the two cannot differ.
class CommandBuilder {
public:
    // A bare piece: " " + piece in the text, one argument.
    CommandBuilder& Word(const std::string& piece) {
        cmd_.text += ' ';
        cmd_.text += piece;
        cmd_.args.push_back(piece);
        return *this;
    }
    CommandBuilder& Number(int32_t value) { return Word(std::to_string(value)); }
    // A quoted piece: " \"" + value + "\"" in the text, the value unchanged as one argument.
    CommandBuilder& Quoted(const std::string& value) {
        cmd_.text += " \"";
        cmd_.text += value;
        cmd_.text += '"';
        cmd_.args.push_back(value);
        return *this;
    }
    // The closing blank of the image runs' lines; adds no argument.
    CommandBuilder& Blank() {
        cmd_.text += ' ';
        return *this;
    }
    EngineCommand Done() { return std::move(cmd_); }

private:
    EngineCommand cmd_;
};

// The common tail of every image run: -d "D" "P" and a closing blank.
EngineCommand ImageTail(CommandBuilder& b, const std::string& dir, const std::string& pdf) {
    return b.Word("-d").Quoted(dir).Quoted(pdf).Blank().Done();
}

}  // namespace

EngineCommand CoverCommand(int32_t resolution, const std::string& dir, const std::string& pdf) {
    CommandBuilder b;
    b.Word("-r").Number(resolution).Word("-o").Word("none").Word("-page").Word("1");
    b.Word("-postfix").Quoted("-cover").Word("-jpeg-quality").Word("75");
    b.Word("-jpeg-smoothing-factor").Word("0").Word("-e").Word("jpeg");
    return ImageTail(b, dir, pdf);
}

EngineCommand ShareImageCommand(int32_t centi_dpi, const std::string& dir, const std::string& pdf) {
    // Written by hand: a decimal comma of the user's locale would not read as a number.
    char res[32];
    std::snprintf(res, sizeof res, "%d.%02d", centi_dpi / 100, centi_dpi % 100);
    CommandBuilder b;
    b.Word("-r").Word(res).Word("-o").Word("none").Word("-page").Word("1");
    b.Word("-postfix").Quoted("-share").Word("-jpeg-quality").Word("85");
    b.Word("-jpeg-smoothing-factor").Word("0").Word("-e").Word("jpeg");
    return ImageTail(b, dir, pdf);
}

int32_t FitResolution(int32_t box_width, int32_t box_height, int32_t dpi, int32_t page_width, int32_t page_height) {
    if (page_width < 1 || page_height < 1) return 0;
    // In 64 bits: box * dpi * 100 outgrows 32 bits for large settings.
    const int64_t by_width = int64_t{box_width} * dpi * 100 / page_width;
    const int64_t by_height = int64_t{box_height} * dpi * 100 / page_height;
    return static_cast<int32_t>(std::clamp<int64_t>(std::min(by_width, by_height), 0, INT32_MAX));
}

EngineCommand ThumbsCommand(int32_t resolution, const std::string& dir, const std::string& pdf) {
    CommandBuilder b;
    b.Word("-r").Number(resolution).Word("-verbose").Word("-o").Word("none");
    b.Word("-jpeg-smoothing-factor").Word("0").Word("-e").Word("jpeg");
    return ImageTail(b, dir, pdf);
}

namespace {
// The page images' options up to their tail.
CommandBuilder& PageImagesOptions(CommandBuilder& b, int32_t resolution, int32_t quality, int32_t smooth) {
    // The engine refuses a quality outside 1..100 or a smoothing outside 0..100 and
    // converts nothing; a job recorded with such a value still converts.
    quality = std::clamp(quality, 1, 100);
    smooth = std::clamp(smooth, 0, 100);
    b.Word("-r").Number(resolution).Word("-verbose").Word("-o").Word("none");
    b.Word("-jpeg-quality").Number(quality).Word("-jpeg-smoothing-factor").Number(smooth);
    return b.Word("-png-single-bit-alpha").Word("-bf");
}
}  // namespace

EngineCommand PageImagesCommand(int32_t resolution, int32_t quality, int32_t smooth, const std::string& dir,
                                const std::string& pdf) {
    CommandBuilder b;
    return ImageTail(PageImagesOptions(b, resolution, quality, smooth), dir, pdf);
}

EngineCommand ZoomImagesCommand(int32_t resolution, int32_t tile_resolution, int32_t quality, int32_t smooth,
                                const std::string& dir, const std::string& tile_dir, const std::string& pdf) {
    CommandBuilder b;
    PageImagesOptions(b, resolution, quality, smooth).Word("-tile-r").Number(tile_resolution);
    b.Word("-tile-dir").Quoted(tile_dir);
    return ImageTail(b, dir, pdf);
}

int32_t TileResolution(int32_t dpi, int32_t page_width) {
    if (page_width < 1 || dpi < 1) return 0;
    const int64_t across = (int64_t{2048} * dpi + page_width - 1) / page_width;
    return static_cast<int32_t>(std::clamp<int64_t>(std::max<int64_t>(across, (int64_t{dpi} * 3 + 1) / 2), 1, 2400));
}

EngineCommand PrintCommand(const std::string& dir, const std::string& pdf) {
    CommandBuilder b;
    b.Word("-r").Word("108").Word("-verbose").Word("-o").Word("none");
    b.Word("-jpeg-quality").Word("70").Word("-jpeg-smoothing-factor").Word("0");
    b.Word("-e").Word("jpeg");
    return ImageTail(b, dir, pdf);
}

EngineCommand SearchCommand(const std::string& book_dir, int32_t resolution, const std::string& title,
                            int32_t page_count, const std::string& pdf, const std::string& description) {
    CommandBuilder b;
    b.Word("-o").Word("all").Word("-output-dir").Quoted(book_dir);
    b.Word("-r").Number(resolution).Word("-title").Quoted(title);
    if (!description.empty()) b.Word("-description").Quoted(description);
    b.Word("-page-count").Number(page_count).Quoted(pdf);
    return b.Done();
}

EngineCommand SizeQueryCommand(int32_t resolution, const std::string& pdf) {
    CommandBuilder b;
    return b.Word("-r").Number(resolution).Word("-size").Quoted(pdf).Done();
}

EngineCommand InfoQueryCommand(int32_t resolution, const std::string& pdf) {
    CommandBuilder b;
    return b.Word("-r").Number(resolution).Word("-i").Quoted(pdf).Done();
}

int32_t SideResolution(int32_t size, int32_t dpi, int32_t page_side) {
    if (page_side <= 0) return 0;
    // The product is formed in 64 bits so that large settings cannot overflow.
    return static_cast<int32_t>(static_cast<int64_t>(size) * dpi / page_side);
}
