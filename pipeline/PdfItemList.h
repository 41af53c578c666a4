// A job list without a widget: the rows of the queue list or the processed list, their
// seven column texts, sorting, selection and the once-a-second refresh from the job
// slots. A view (the desktop list widget) shows it and listens to its changes.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "pipeline/PdfItem.h"
#include "pipeline/PdfJob.h"

class IniFile;
class JobTable;

// Told about every change of a list's rows, on the thread that changed them.
class PdfItemListListener {
public:
    virtual ~PdfItemListListener() = default;
    virtual void OnRowInserted(int row) = 0;
    virtual void OnRowRemoved(int row) = 0;
    virtual void OnRowChanged(int row) = 0;
    virtual void OnRowsReordered() = 0;
};

class CPdfItemList {
public:
    enum Column { kColTime = 0, kColState, kColFile, kColProgress, kColResult, kColPath, kColKey,
                  kColumnCount };
    // Names of the column headers in section ADVANCED of the language file.
    static const char* HeaderKey(int column);
    // Job sections considered by Build: 1024 names of 32 characters.
    static constexpr int kMaxSections = 1024;

    explicit CPdfItemList(bool processed) : processed_(processed) {}

    bool IsProcessedList() const { return processed_; }
    void SetListener(PdfItemListListener* listener) { listener_ = listener; }
    // The state texts (index = state) and result texts (index = result code).
    using StateTexts = std::array<std::string, 5>;
    using ResultTexts = std::array<std::string, JOB_RESULT_COUNT>;
    void SetTexts(const StateTexts& state_texts, const ResultTexts& result_texts);
    // The State texts of a job that ended early: failed, or stopped (also a job left
    // unfinished by an earlier session). English until set.
    void SetEndTexts(const std::string& failed, const std::string& stopped);

    // Whether the row's job ended without finishing (it is not running or waiting), and
    // whether that end was a failure rather than a stop.
    static bool EndedEarly(const PdfItem& item);
    static bool Failed(const PdfItem& item);

    // Fills the list from the job sections of meta.ini: the processed list takes the
    // finished jobs, the queue list all others. Then sorts by time, newest first.
    // Returns the number of rows added.
    int Build(const IniFile& meta);
    // Inserts a row at `row` (appends when beyond the end); with stamp_now the item's
    // timestamp becomes the current UTC time. 1 on success, 0 for a missing item.
    int AddRow(int row, std::unique_ptr<PdfItem> item, bool stamp_now);
    // Removes and frees the row's item; false for a row that does not exist.
    bool DeleteRow(int row);
    // Takes the row's item out without freeing it (the row is removed).
    std::unique_ptr<PdfItem> TakeRow(int row);

    // Copies progress, state and result code of every row's job slot into the row, and
    // whether a job that ended early failed.
    void Refresh(const JobTable& table);
    // Moves every row whose job has ended finished (state 0, progress 100000) to the end
    // of `processed` and re-sorts it when any moved. Returns the number moved.
    int MoveFinishedTo(CPdfItemList& processed);

    // Sorts by a column; direction 1 ascending, -1 descending.
    void SortBy(int column, int direction);
    // A click on a header: ascending on a new column, else the opposite direction.
    void ClickHeader(int column);
    int SortColumn() const { return sort_column_; }
    int SortDirection() const { return sort_direction_; }

    int RowCount() const { return static_cast<int>(rows_.size()); }
    const PdfItem* Item(int row) const;
    std::string CellText(int row, int column) const;
    int FindRowByKey(const std::string& key) const;

    // Selection, as a list view keeps it: per-row marks and a selection mark (the row
    // that was last selected; -1 when there is none).
    void Select(int row, bool selected);
    void ClearSelection();
    bool IsSelected(int row) const;
    int SelectionMark() const { return selection_mark_; }
    std::vector<int> SelectedRows() const;

    // Guards the rows while finished rows move between lists.
    std::mutex& Lock() { return lock_; }

    // Texts of one item as the columns show them.
    static std::string FormatProgress(int32_t progress);
    static std::string FormatTimestamp(const DateTimeRecord& utc);
    static std::string FileNameOf(const std::string& path);

private:
    struct Row {
        std::unique_ptr<PdfItem> item;
        bool selected = false;
    };
    template <size_t N>
    static std::string TextFor(const std::array<std::string, N>& texts, int32_t index)
    {
        return index >= 0 && static_cast<size_t>(index) < N ? texts[static_cast<size_t>(index)] : std::string();
    }
    int Compare(const PdfItem& a, const PdfItem& b, int column) const;

    bool processed_;
    PdfItemListListener* listener_ = nullptr;
    StateTexts state_texts_;
    ResultTexts result_texts_;
    std::string failed_text_ = "Failed";
    std::string stopped_text_ = "Stopped";
    std::vector<Row> rows_;
    int sort_column_ = -1;
    int sort_direction_ = 1;
    int selection_mark_ = -1;
    std::mutex lock_;
};
