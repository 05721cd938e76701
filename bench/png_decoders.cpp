// png_decoders: libpng against libspng on the work the PNG reader does, one
// row at a time into one row buffer, bit depths below 8 unpacked to a byte per
// pixel. Prints the median of several decodes per file and library: libpng
// unpacking with png_set_packing, libpng and libspng unpacking with one table.
//   png_decoders [-n RUNS] FILE.png...
#include <png.h>
#include <spng.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

// Checksum of the delivered rows, so neither decode can be optimised away and
// both can be seen to deliver the same samples.
uint64_t fold(uint64_t sum, const uint8_t* row, std::size_t n) {
    uint64_t row_sum = 0;
    for (std::size_t i = 0; i < n; ++i) row_sum += row[i];
    return sum * 31 + row_sum;
}

// A byte of 1-bit samples as the 8 bytes it unpacks to.
struct BitTable {
    uint8_t bytes[256][8];
    BitTable() {
        for (int v = 0; v < 256; ++v)
            for (int b = 0; b < 8; ++b) bytes[v][b] = uint8_t((v >> (7 - b)) & 1);
    }
};

// Bit depths below 8 as one byte per pixel holding the stored value.
void unpack(const uint8_t* packed, int depth, uint32_t width, uint8_t* row) {
    if (depth == 1) {
        static const BitTable table;
        const uint32_t whole = width / 8;
        for (uint32_t x = 0; x < whole; ++x) std::memcpy(&row[8 * x], table.bytes[packed[x]], 8);
        for (uint32_t x = 8 * whole; x < width; ++x)
            row[x] = uint8_t((packed[x / 8] >> (7 - x % 8)) & 1);
        return;
    }
    const uint32_t per_byte = 8 / depth;
    const int mask = (1 << depth) - 1;
    for (uint32_t x = 0; x < width; ++x) {
        const int shift = 8 - depth * (1 + int(x % per_byte));
        row[x] = uint8_t((packed[x / per_byte] >> shift) & mask);
    }
}

// own_unpack: libpng delivers the packed rows and unpack() spreads them, as
// for libspng; otherwise png_set_packing does it.
uint64_t decode_libpng_with(const char* name, bool own_unpack) {
    std::FILE* file = std::fopen(name, "rb");
    if (file == nullptr) std::exit(2);
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) std::exit(3);
    png_init_io(png, file);
    png_set_user_limits(png, 0x7fffffff, 0x7fffffff);
    png_read_info(png, info);
    const int depth = png_get_bit_depth(png, info);
    const bool spread = depth < 8 && own_unpack;
    if (depth < 8 && !own_unpack) png_set_packing(png);
    png_read_update_info(png, info);
    std::vector<uint8_t> packed(png_get_rowbytes(png, info));
    const uint32_t width = png_get_image_width(png, info);
    std::vector<uint8_t> row(spread ? width : 0);
    const uint32_t height = png_get_image_height(png, info);
    uint64_t sum = 0;
    for (uint32_t y = 0; y < height; ++y) {
        png_read_row(png, packed.data(), nullptr);
        if (spread) {
            unpack(packed.data(), depth, width, row.data());
            sum = fold(sum, row.data(), row.size());
        } else {
            sum = fold(sum, packed.data(), packed.size());
        }
    }
    png_destroy_read_struct(&png, &info, nullptr);
    std::fclose(file);
    return sum;
}

uint64_t decode_libspng(const char* name) {
    std::FILE* file = std::fopen(name, "rb");
    if (file == nullptr) std::exit(2);
    spng_ctx* ctx = spng_ctx_new(0);
    spng_set_png_file(ctx, file);
    spng_set_image_limits(ctx, 0x7fffffff, 0x7fffffff);
    spng_ihdr ihdr{};
    if (spng_get_ihdr(ctx, &ihdr) != 0) std::exit(3);
    // SPNG_FMT_PNG keeps the stored depth; below 8 bits the unpacking is ours,
    // as libspng's G8 scales the values.
    const int depth = ihdr.bit_depth;
    std::size_t packed_bytes = 0;
    spng_decoded_image_size(ctx, SPNG_FMT_PNG, &packed_bytes);
    if (spng_decode_image(ctx, nullptr, 0, SPNG_FMT_PNG, SPNG_DECODE_PROGRESSIVE) != 0)
        std::exit(3);
    const std::size_t packed_row = packed_bytes / ihdr.height;
    std::vector<uint8_t> packed(packed_row);
    std::vector<uint8_t> row(ihdr.width);
    uint64_t sum = 0;
    for (uint32_t y = 0; y < ihdr.height; ++y) {
        int status = spng_decode_row(ctx, packed.data(), packed.size());
        if (status != 0 && status != SPNG_EOI) std::exit(4);
        if (depth < 8) {
            unpack(packed.data(), depth, ihdr.width, row.data());
            sum = fold(sum, row.data(), row.size());
        } else {
            sum = fold(sum, packed.data(), packed.size());
        }
    }
    spng_ctx_free(ctx);
    std::fclose(file);
    return sum;
}

uint64_t decode_libpng(const char* name) { return decode_libpng_with(name, false); }
uint64_t decode_libpng_raw(const char* name) { return decode_libpng_with(name, true); }

double seconds_of(uint64_t (*decode)(const char*), const char* name, uint64_t* sum) {
    const auto start = std::chrono::steady_clock::now();
    *sum = decode(name);
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    int runs = 7;
    int first = 1;
    if (argc > 2 && std::strcmp(argv[1], "-n") == 0) {
        runs = std::atoi(argv[2]);
        first = 3;
    }
    std::printf("%-20s %14s %14s %14s %s\n", "file", "libpng pack s", "libpng+table s",
                "libspng+table s", "same rows");
    for (int i = first; i < argc; ++i) {
        std::vector<double> a, b, c;
        uint64_t sum_a = 0, sum_b = 0, sum_c = 0;
        // Interleaved, so that both see the same cache and clock conditions.
        for (int r = 0; r < runs; ++r) {
            a.push_back(seconds_of(decode_libpng, argv[i], &sum_a));
            b.push_back(seconds_of(decode_libpng_raw, argv[i], &sum_b));
            c.push_back(seconds_of(decode_libspng, argv[i], &sum_c));
        }
        std::printf("%-20s %14.4f %14.4f %14.4f %s\n", argv[i], median(a), median(b), median(c),
                    sum_a == sum_b && sum_b == sum_c ? "yes" : "NO");
    }
    return 0;
}
