// The record behind one row of a job list.
#pragma once

#include <cstdint>
#include <string>

#include "config/IniFile.h"

struct PdfItem {
    int32_t progress = 0;     // thousandths of a percent, as in the job slot
    int32_t state = 0;        // slot state; 1 right after submission, 0 when built from meta.ini
    int32_t result_code = 0;  // the slot's result code
    bool failed = false;      // its job ended early this session without a stop request
    DateTimeRecord timestamp; // creation time in UTC
    std::string key;          // the job key (at most 63 characters)
    std::string pdf_path;     // full path of the PDF file (at most 259 characters)
};
