// The worker: turns one job into a book folder as a resumable sequence of steps keyed
// on the job's progress (cover, page, search, thumbs, zoom, high, medium, low, print,
// then publishing or export and finish). Runs on a thread of its own and writes only
// its own slot.
#pragma once

#include <cstdint>

#include "pipeline/PdfJob.h"

class AppConfig;

// Resolution at which the engine renders a page into a box: a portrait page (narrower
// than high) is fitted by height, every other page by width.
int32_t BoxResolution(int32_t box_width, int32_t box_height, int32_t dpi, int32_t page_width,
                      int32_t page_height);

// Runs the job of `slot` with the settings of `cfg`. Returns 0 when the job finished,
// the export's result when it finished with an export, 102 when it ended early.
int ProcessPdfThread(PdfJob& slot, const AppConfig& cfg);
