// Fuzz target: any bytes through open_raster, so every format's reader (the
// signature picks it), with the read options the input's length picks. An
// image that opens must deliver exactly its height in rows of row_bytes each,
// with zero padding bits in a bitmap, and, written out and read back (TIFF for
// grey, PNG for colour), the same samples again.
#include <cstring>
#include <vector>

#include "fuzz/fuzz_input.h"
#include "imagefiles/output_formats.h"
#include "imagefiles/raster.h"

namespace {

std::vector<uint8_t> read_all(RasterReader& reader) {
    const RasterInfo& info = reader.info();
    const std::size_t row = reader.row_bytes();
    std::vector<uint8_t> samples(row * std::size_t(info.height));
    // Bands of three rows: band ends fall inside strips, tiles and passes.
    int64_t done = 0;
    while (done < info.height) {
        const int64_t got = reader.read_rows(samples.data() + std::size_t(done) * row, 3);
        FUZZ_CHECK(got > 0 && got <= 3);
        done += got;
    }
    FUZZ_CHECK(reader.read_rows(samples.data(), 3) == 0);
    return samples;
}

// Written through the writers and read back, the samples come back unchanged.
void check_round_trip(const RasterInfo& info, const std::vector<uint8_t>& samples) {
    const bool colour =
        info.channels == 3 && (info.sample == SampleType::kU8 || info.sample == SampleType::kU16);
    if (info.sample == SampleType::kBit || info.width == 0 || info.height == 0) return;
    if (info.channels != 1 && !colour) return;
    RasterLayout layout;
    layout.width = info.width;
    layout.height = info.height;
    layout.sample = info.sample;
    layout.channels = info.channels;
    const char* name = fuzz_output_file();
    std::FILE* out = std::fopen(name, "w+b");
    FUZZ_CHECK(out != nullptr);
    {
        auto writer =
            create_stream_writer(format_for_name(colour ? ".png" : ".tif"), out, true, layout);
        writer->write_rows(samples.data(), info.height);
        writer->finish();
    }
    FUZZ_CHECK(std::fclose(out) == 0);
    auto again = open_raster(name);  // what our writers make reads the same either way
    FUZZ_CHECK(again->info().width == info.width && again->info().height == info.height);
    FUZZ_CHECK(again->info().sample == info.sample && again->info().channels == info.channels);
    FUZZ_CHECK(read_all(*again) == samples);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    prepare_fuzz_process();
    const char* input = fuzz_input_file(data, size);
    try {
        ReadOptions options;
        options.keep_alpha = (size & 1) != 0;
        options.classic_greymap = (size & 2) != 0;
        auto reader = open_raster(input, options);
        const RasterInfo& info = reader->info();
        FUZZ_CHECK(info.width >= 0 && info.height >= 0 && info.channels >= 1);
        FUZZ_CHECK(!info.alpha || (options.keep_alpha && info.channels >= 2));
        FUZZ_CHECK(info.sample != SampleType::kBit || info.channels == 1);
        if (info.width > kMaxSide || info.height > kMaxSide ||
            uint64_t(info.width) * uint64_t(info.height) * uint64_t(info.channels) > kMaxPixels)
            return 0;
        const std::vector<uint8_t> samples = read_all(*reader);
        if (info.sample == SampleType::kBit && info.width % 8 != 0) {
            const std::size_t row = reader->row_bytes();
            const uint8_t padding = uint8_t(0xff >> (info.width % 8));
            for (int64_t y = 0; y < info.height; ++y)
                FUZZ_CHECK((samples[std::size_t(y) * row + row - 1] & padding) == 0);
        }
        check_round_trip(info, samples);
    } catch (const ImageError&) {
        // A refusal with its message: the expected outcome for most inputs.
    } catch (const std::bad_alloc&) {
    }
    return 0;
}
