#include "pipeline/PdfItemList.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "config/DiagLog.h"
#include "config/IniFile.h"
#include "config/JobKey.h"
#include "pipeline/JobSection.h"
#include "pipeline/JobTable.h"

namespace {
const char kModule[] = "PdfItemList";


// A point in time that orders records; the day of the week plays no part.
int64_t TimeOrder(const DateTimeRecord& r)
{
    int64_t v = r.year;
    for (int64_t part : {int64_t{r.month}, int64_t{r.day}, int64_t{r.hour}, int64_t{r.minute},
                         int64_t{r.second}})
        v = v * 100 + part;
    return v * 1000 + r.milliseconds;
}

template <typename T>
int Sign(T a, T b)
{
    return a < b ? -1 : (b < a ? 1 : 0);
}

int CollateCompare(const std::string& a, const std::string& b)
{
    int r = strcoll(a.c_str(), b.c_str());
    return r < 0 ? -1 : (r > 0 ? 1 : 0);
}
}  // namespace

const char* CPdfItemList::HeaderKey(int column)
{
    static const char* const keys[kColumnCount] = {"lst_column4", "lst_column1", "lst_column3",
                                                   "lst_column2", "lst_column5", "lst_column6",
                                                   "lst_column7"};
    return column >= 0 && column < kColumnCount ? keys[column] : "";
}

void CPdfItemList::SetTexts(const StateTexts& state_texts, const ResultTexts& result_texts)
{
    state_texts_ = state_texts;
    result_texts_ = result_texts;
}

void CPdfItemList::SetEndTexts(const std::string& failed, const std::string& stopped)
{
    failed_text_ = failed;
    stopped_text_ = stopped;
}

bool CPdfItemList::EndedEarly(const PdfItem& item)
{
    return item.state == JOB_STATE_FREE && item.progress < kProgressFinished;
}

bool CPdfItemList::Failed(const PdfItem& item)
{
    if (!EndedEarly(item))
        return false;
    return item.failed || (item.result_code != JOB_RESULT_OK && item.result_code != JOB_RESULT_UPLOAD_STOPPED);
}

int CPdfItemList::Build(const IniFile& meta)
{
    IniFile names(meta.Path());
    names.SectionNames(kMaxSections, 32);
    int added = 0;
    for (const std::string& key : names.SectionNameList()) {
        // A section name is used as a folder name later on (delete, export, relaunch):
        // only a well-formed job key may enter a list.
        if (!IsJobKey(key)) {
            DIAG(kModule, 0, "ERR:invalid job key %s skipped", key.c_str());
            continue;
        }
        DateTimeRecord stamp;
        meta.ReadDateTime(key, "timestamp", stamp);
        bool finished = IsFinished(meta, key);
        if (finished != processed_)
            continue;
        auto item = std::make_unique<PdfItem>();
        item->pdf_path = meta.ReadText(key, "pdf_url", kJobPathBytes);
        item->state = 0;
        item->progress = ReadJobProgress(meta, key);
        item->key = key;
        item->timestamp = stamp;
        item->result_code = 0;
        if (!AddRow(RowCount(), std::move(item), false))
            return added;
        ++added;
    }
    SortBy(kColTime, -1);
    return added;
}

int CPdfItemList::AddRow(int row, std::unique_ptr<PdfItem> item, bool stamp_now)
{
    if (!item) {
        DIAG(kModule, 0, "ERR: empty item");
        return 0;
    }
    if (stamp_now)
        item->timestamp = CurrentUtcTime();
    if (row < 0 || row > RowCount())
        row = RowCount();
    rows_.insert(rows_.begin() + row, Row{std::move(item), false});
    if (selection_mark_ >= row)
        ++selection_mark_;
    if (listener_)
        listener_->OnRowInserted(row);
    return 1;
}

std::unique_ptr<PdfItem> CPdfItemList::TakeRow(int row)
{
    if (row < 0 || row >= RowCount()) {
        DIAG(kModule, 0, "ERR:GetItemData failed");
        return nullptr;
    }
    std::unique_ptr<PdfItem> item = std::move(rows_[static_cast<size_t>(row)].item);
    rows_.erase(rows_.begin() + row);
    if (selection_mark_ == row)
        selection_mark_ = -1;
    else if (selection_mark_ > row)
        --selection_mark_;
    if (listener_)
        listener_->OnRowRemoved(row);
    return item;
}

bool CPdfItemList::DeleteRow(int row)
{
    return TakeRow(row) != nullptr;
}

void CPdfItemList::Refresh(const JobTable& table)
{
    for (int row = 0; row < RowCount(); ++row) {
        PdfItem& item = *rows_[static_cast<size_t>(row)].item;
        int slot = table.FindSlotByKey(item.key);
        if (slot < 0) {
            if (item.state != 0) {
                item.state = 0;
                if (listener_)
                    listener_->OnRowChanged(row);
            }
            continue;
        }
        const PdfJob& job = table.Slot(slot);
        int32_t progress = job.progress.load();
        if (progress < 0 || progress > kProgressFinished)
            continue;
        item.progress = progress;
        item.state = job.state.load();
        item.result_code = job.result_code.load();
        item.failed = EndedEarly(item) && job.stopped.load() == 0;
        if (listener_)
            listener_->OnRowChanged(row);
    }
}

int CPdfItemList::MoveFinishedTo(CPdfItemList& processed)
{
    int moved = 0;
    for (int row = 0; row < RowCount();) {
        std::lock_guard<std::mutex> guard(lock_);
        const PdfItem& item = *rows_[static_cast<size_t>(row)].item;
        if (item.state == JOB_STATE_FREE && item.progress == kProgressFinished) {
            processed.AddRow(processed.RowCount(), TakeRow(row), false);
            ++moved;
        } else {
            ++row;
        }
    }
    if (moved > 0)
        processed.SortBy(kColTime, -1);
    return moved;
}

void CPdfItemList::SortBy(int column, int direction)
{
    if (column < 0 || column >= kColumnCount)
        return;
    sort_column_ = column;
    sort_direction_ = direction < 0 ? -1 : 1;
    std::string marked_key =
        selection_mark_ >= 0 ? rows_[static_cast<size_t>(selection_mark_)].item->key : std::string();
    std::stable_sort(rows_.begin(), rows_.end(), [&](const Row& a, const Row& b) {
        return sort_direction_ > 0 ? Compare(*a.item, *b.item, column) < 0
                                   : Compare(*b.item, *a.item, column) < 0;
    });
    if (selection_mark_ >= 0)
        selection_mark_ = FindRowByKey(marked_key);
    if (listener_)
        listener_->OnRowsReordered();
}

void CPdfItemList::ClickHeader(int column)
{
    std::lock_guard<std::mutex> guard(lock_);
    SortBy(column, column == sort_column_ ? -sort_direction_ : 1);
}

int CPdfItemList::Compare(const PdfItem& a, const PdfItem& b, int column) const
{
    switch (column) {
    case kColTime: return Sign(TimeOrder(a.timestamp), TimeOrder(b.timestamp));
    case kColState: return Sign(a.state, b.state);
    case kColFile: return CollateCompare(FileNameOf(a.pdf_path), FileNameOf(b.pdf_path));
    case kColProgress: return Sign(a.progress, b.progress);
    case kColResult:
        return Sign(TextFor(result_texts_, a.result_code), TextFor(result_texts_, b.result_code));
    case kColPath: return CollateCompare(a.pdf_path, b.pdf_path);
    case kColKey: return CollateCompare(a.key, b.key);
    default: return 0;
    }
}

const PdfItem* CPdfItemList::Item(int row) const
{
    return row >= 0 && row < RowCount() ? rows_[static_cast<size_t>(row)].item.get() : nullptr;
}

int CPdfItemList::FindRowByKey(const std::string& key) const
{
    for (int row = 0; row < RowCount(); ++row)
        if (rows_[static_cast<size_t>(row)].item->key == key)
            return row;
    return -1;
}

std::string CPdfItemList::CellText(int row, int column) const
{
    const PdfItem* item = Item(row);
    if (!item)
        return {};
    switch (column) {
    case kColTime: return FormatTimestamp(item->timestamp);
    case kColState:
        if (EndedEarly(*item))
            return Failed(*item) ? failed_text_ : stopped_text_;
        return TextFor(state_texts_, item->state);
    case kColFile: return FileNameOf(item->pdf_path);
    case kColProgress: return FormatProgress(item->progress);
    case kColResult:
        // "OK" would contradict an early end that has no reason of its own.
        if (EndedEarly(*item) && item->result_code == JOB_RESULT_OK)
            return {};
        return TextFor(result_texts_, item->result_code);
    case kColPath: return item->pdf_path;
    case kColKey: return item->key;
    default: return {};
    }
}

std::string CPdfItemList::FormatProgress(int32_t progress)
{
    char text[32];
    std::snprintf(text, sizeof text, "%d.%d%%", progress / 1000, (progress % 1000) / 100);
    return text;
}

std::string CPdfItemList::FormatTimestamp(const DateTimeRecord& utc)
{
    tm parts{};
    parts.tm_year = utc.year - 1900;
    parts.tm_mon = utc.month - 1;
    parts.tm_mday = utc.day;
    parts.tm_hour = utc.hour;
    parts.tm_min = utc.minute;
    parts.tm_sec = utc.second;
    time_t when = timegm(&parts);
    tm local{};
    localtime_r(&when, &local);
    // The locale's short date and the time of day without seconds.
    char text[64];
    size_t n = strftime(text, sizeof text, "%x %H:%M", &local);
    return std::string(text, n);
}

std::string CPdfItemList::FileNameOf(const std::string& path)
{
    size_t cut = path.find_last_of("/\\");
    return cut == std::string::npos ? path : path.substr(cut + 1);
}

void CPdfItemList::Select(int row, bool selected)
{
    if (row < 0 || row >= RowCount())
        return;
    rows_[static_cast<size_t>(row)].selected = selected;
    if (selected)
        selection_mark_ = row;
}

void CPdfItemList::ClearSelection()
{
    for (Row& r : rows_)
        r.selected = false;
    selection_mark_ = -1;
}

bool CPdfItemList::IsSelected(int row) const
{
    return row >= 0 && row < RowCount() && rows_[static_cast<size_t>(row)].selected;
}

std::vector<int> CPdfItemList::SelectedRows() const
{
    std::vector<int> rows;
    for (int row = 0; row < RowCount(); ++row)
        if (rows_[static_cast<size_t>(row)].selected)
            rows.push_back(row);
    return rows;
}
