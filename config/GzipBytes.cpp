#include "config/GzipBytes.h"

#include <libdeflate.h>

#include <memory>

namespace {

struct CompressorFree {
    void operator()(libdeflate_compressor* c) const { libdeflate_free_compressor(c); }
};
struct DecompressorFree {
    void operator()(libdeflate_decompressor* d) const { libdeflate_free_decompressor(d); }
};

// Level 6: nearly all of the size gain of the slowest levels at a fraction of their time.
constexpr int kLevel = 6;

}  // namespace

std::string GzipBytes(std::string_view data)
{
    std::unique_ptr<libdeflate_compressor, CompressorFree> compressor(libdeflate_alloc_compressor(kLevel));
    if (!compressor)
        return {};
    std::string packed(libdeflate_gzip_compress_bound(compressor.get(), data.size()), '\0');
    const size_t used =
        libdeflate_gzip_compress(compressor.get(), data.data(), data.size(), packed.data(), packed.size());
    packed.resize(used);
    return packed;
}

bool GunzipExactly(std::string_view packed, int64_t size, std::string& out)
{
    out.clear();
    if (size < 0)
        return false;
    std::unique_ptr<libdeflate_decompressor, DecompressorFree> decompressor(libdeflate_alloc_decompressor());
    if (!decompressor)
        return false;
    std::string unpacked(static_cast<size_t>(size), '\0');
    size_t used_in = 0;
    size_t used_out = 0;
    // The output never grows past `size`: a stream that wants more fails here.
    const libdeflate_result result = libdeflate_gzip_decompress_ex(
        decompressor.get(), packed.data(), packed.size(), unpacked.data(), unpacked.size(), &used_in, &used_out);
    if (result != LIBDEFLATE_SUCCESS || used_in != packed.size() || used_out != unpacked.size())
        return false;
    out = std::move(unpacked);
    return true;
}
