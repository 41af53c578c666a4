// The name of the step a job's progress value stands in, for the progress display.
#pragma once

#include <cstdint>
#include <string>

// "cover", "thumbnails", ..., "metadata", "HighRes" (an uploaded folder), "page and search text".
std::string JobStageName(int32_t progress);
