// What the wizard collects on its way through the pages, kept by the mode tab control
// for as long as the program runs: the PDF with the values the engine found in it, the
// metadata the user confirmed, and the job the convert page started.
#pragma once

#include <QString>

#include <cstdint>
#include <string>

struct WizardValues {
    static constexpr int kPathLength = 4095;
    static constexpr int kTextLength = 512;
    static constexpr int kDescriptionLength = 1024;

    QString pdf_path;
    QString title;
    QString keywords;
    QString description;
    int32_t page_count = 0;
    int32_t page_width = 0;
    int32_t page_height = 0;
    // The folder page 4 chose for a book kept on this computer.
    QString local_folder;
    // The job the wizard follows: its key and slot (-1: none).
    std::string job_key;
    int slot = -1;
    // The page that led to the convert page, where its Back returns.
    int return_code = 0;
};
