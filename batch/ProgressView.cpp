#include "batch/ProgressView.h"

#include <cstdio>

#include "pipeline/PdfItemList.h"

std::string ProgressView::Bar(int32_t progress, int width)
{
    if (progress < 0)
        progress = 0;
    if (progress > 100000)
        progress = 100000;
    int filled = static_cast<int>(static_cast<int64_t>(progress) * width / 100000);
    std::string bar(1, '[');
    bar.append(static_cast<size_t>(filled), '#').append(static_cast<size_t>(width - filled), '.').append("] ");
    std::string percent = CPdfItemList::FormatProgress(progress);
    return bar + std::string(percent.size() < 6 ? 6 - percent.size() : 0, ' ') + percent;
}

void ProgressView::Show(const std::vector<JobLine>& lines, size_t queued)
{
    std::vector<std::string> texts;
    if (terminal_) {
        // A long run would scroll its bars off the screen: the jobs still at work come
        // first, ended ones only while there is room.
        std::vector<const JobLine*> shown;
        for (const JobLine& line : lines)
            if (!line.ended && shown.size() < kMaxBars)
                shown.push_back(&line);
        size_t ended = 0;
        for (const JobLine& line : lines) {
            if (!line.ended)
                continue;
            ++ended;
            if (shown.size() < kMaxBars)
                shown.push_back(&line);
        }
        for (const JobLine* line : shown) {
            std::string name = line->name.size() > 28 ? line->name.substr(0, 25) + "..." : line->name;
            texts.push_back(name + std::string(28 - name.size() + 1, ' ') + Bar(line->progress, 30) + "  " +
                            line->state);
        }
        if (shown.size() < lines.size() || queued > 0)
            texts.push_back("... " + std::to_string(lines.size() - shown.size()) + " more jobs, " +
                            std::to_string(ended) + " ended, " + std::to_string(queued) + " PDFs waiting");
    } else {
        for (const JobLine& line : lines)
            texts.push_back(line.key + " " + CPdfItemList::FormatProgress(line.progress) + " " + line.state +
                            " " + line.name);
    }
    if (terminal_) {
        if (drawn_ > 0)
            std::fprintf(stderr, "\x1b[%dA", drawn_);
        // Fewer lines than last time: blank the rest of the old ones.
        if (texts.size() < static_cast<size_t>(drawn_))
            texts.resize(static_cast<size_t>(drawn_));
        for (const std::string& text : texts)
            std::fprintf(stderr, "\r\x1b[2K%s\n", text.c_str());
        drawn_ = static_cast<int>(texts.size());
    } else {
        for (size_t i = 0; i < texts.size(); ++i)
            if (i >= last_.size() || last_[i] != texts[i])
                std::fprintf(stderr, "%s\n", texts[i].c_str());
    }
    last_ = texts;
    std::fflush(stderr);
}

void ProgressView::Finish()
{
    drawn_ = 0;
    std::fflush(stderr);
}
