#include "engine/UniformJpeg.h"

#include <cstdlib>
#include <cstring>

namespace {

// Whether every pixel equals the first: the first row pixel by pixel, then every other
// row against it. Stops at the first difference, which on a drawn page comes early.
bool IsUniform(const unsigned char* samples, int width, int height, ptrdiff_t stride, int components)
{
    const size_t row_bytes = static_cast<size_t>(width) * static_cast<size_t>(components);
    for (size_t i = static_cast<size_t>(components); i < row_bytes; ++i)
        if (samples[i] != samples[i % static_cast<size_t>(components)])
            return false;
    for (int y = 1; y < height; ++y)
        if (std::memcmp(samples + stride * y, samples, row_bytes) != 0)
            return false;
    return true;
}

} // namespace

bool UniformJpeg::Encode(const unsigned char* samples, int width, int height, ptrdiff_t stride, int components,
                         const JpegSettings& settings, std::string& error)
{
    char* data = nullptr;
    size_t size = 0;
    FILE* memory = open_memstream(&data, &size);
    if (!memory) {
        error = "out of memory for a JPEG file";
        return false;
    }
    bool ok = WriteJpeg(memory, samples, width, height, stride, components, settings, error);
    if (std::fclose(memory) != 0 && ok) {
        error = "out of memory for a JPEG file";
        ok = false;
    }
    if (ok)
        file_.assign(data, data + size);
    std::free(data);
    return ok;
}

UniformJpeg::Result UniformJpeg::Write(FILE* out, const unsigned char* samples, int width, int height,
                                       ptrdiff_t stride, int components, const JpegSettings& settings,
                                       std::string& error)
{
    if (width <= 0 || height <= 0 || components < 1 || components > 4 ||
        !IsUniform(samples, width, height, stride, components))
        return Result::NotUniform;
    Key key{width, height, components, 0, settings.quality, settings.smoothing, settings.dpi,
            settings.optimize_coding};
    for (int c = 0; c < components; ++c)
        key.colour |= unsigned(samples[c]) << (8 * c);
    if (file_.empty() || !(key == key_)) {
        file_.clear();
        if (!Encode(samples, width, height, stride, components, settings, error))
            return Result::Failed;
        key_ = key;
    }
    if (std::fwrite(file_.data(), 1, file_.size(), out) != file_.size()) {
        error = "could not write the JPEG file";
        return Result::Failed;
    }
    return Result::Written;
}
