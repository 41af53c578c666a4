#include "pipeline/CreateSearchDB.h"

#include "pipeline/EngineRun.h"

void CreateSearchDB(const std::string& pdf, const std::string& book_dir, int32_t resolution,
                    const std::string& engine_path, const std::string& title, int32_t page_count,
                    const std::string& description) {
    // The engine writes the files itself; its output only tells when it is done.
    EngineRun::RunToEnd("CreateSearchDB", engine_path, SearchCommand(book_dir, resolution, title, page_count, pdf, description),
                        nullptr, 2048);
}
