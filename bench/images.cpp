// Image families for the benchmark. Random ones use a small local generator
// rather than <random> distributions, whose output differs between standard
// libraries, so the pixels are the same under every compiler.
#include "bench/images.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

constexpr uint8_t kInk = 255;

// splitmix64: tiny, fast and good enough for pixel noise.
struct Rng {
    uint64_t state;
    uint64_t next() {
        uint64_t z = (state += 0x9e3779b97f4a7c15ULL);
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
        return z ^ (z >> 31);
    }
    int below(int n) { return static_cast<int>(next() % static_cast<uint64_t>(n)); }
    int between(int lo, int hi) { return lo + below(hi - lo + 1); }
    double unit() { return static_cast<double>(next() >> 11) * 0x1.0p-53; }
};

uint64_t seed_for(const Family& family, int size) {
    uint64_t seed = 0x72756e6c6162656cULL;  // "runlabel"
    for (char ch : family.name) seed = seed * 131 + static_cast<unsigned char>(ch);
    return seed ^ (static_cast<uint64_t>(size) << 32);
}

void fill_rect(uint8_t** px, int size, int r0, int c0, int r1, int c1) {
    r0 = std::max(r0, 0);
    c0 = std::max(c0, 0);
    r1 = std::min(r1, size - 1);
    c1 = std::min(c1, size - 1);
    for (int r = r0; r <= r1; ++r) {
        if (c0 <= c1) std::memset(px[r] + c0, kInk, static_cast<std::size_t>(c1 - c0 + 1));
    }
}

void fill_noise(const Family& family, uint8_t** px, int size, Rng& rng) {
    // A cell is foreground with probability density %; the threshold compare on
    // 32 random bits keeps the draw cheap for the 16384 x 16384 case.
    const uint64_t threshold = (uint64_t{1} << 32) * static_cast<uint64_t>(family.density) / 100;
    const int b = family.block;
    std::vector<uint8_t> cells(static_cast<std::size_t>((size + b - 1) / b));
    for (int r0 = 0; r0 < size; r0 += b) {
        for (auto& cell : cells) cell = (rng.next() >> 32) < threshold ? kInk : 0;
        for (int c = 0; c < size; ++c) px[r0][c] = cells[static_cast<std::size_t>(c / b)];
        for (int r = r0 + 1; r < std::min(r0 + b, size); ++r) {
            std::memcpy(px[r], px[r0], static_cast<std::size_t>(size));
        }
    }
}

// One glyph-like shape in a cell of width w whose x-height box spans rows
// top..base. Strokes are 2 pixels wide, as in text scanned at 300 dpi.
void draw_glyph(uint8_t** px, int size, int kind, int base, int left, int w) {
    constexpr int s = 2;
    const int top = base - 11;  // x-height
    const int asc = base - 17;  // ascender
    const int desc = base + 5;  // descender
    const int right = left + w - 1;
    const int mid = (top + base) / 2;
    auto vbar = [&](int c, int r0, int r1) { fill_rect(px, size, r0, c, r1, c + s - 1); };
    auto hbar = [&](int r, int c0, int c1) { fill_rect(px, size, r, c0, r + s - 1, c1); };
    auto diag = [&](int r0, int c0, int r1, int c1) {
        for (int r = r0; r <= r1; ++r) {
            const int c = c0 + (c1 - c0) * (r - r0) / std::max(r1 - r0, 1);
            fill_rect(px, size, r, c, r, c + s);
        }
    };
    switch (kind) {
        case 0:  // l
            vbar(left + w / 2, asc, base);
            break;
        case 1:  // o
            vbar(left, top, base);
            vbar(right - 1, top, base);
            hbar(top, left, right);
            hbar(base - 1, left, right);
            break;
        case 2:  // n
            vbar(left, top, base);
            vbar(right - 1, top + 1, base);
            hbar(top, left, right - 1);
            break;
        case 3:  // e
            vbar(left, top, base);
            vbar(right - 1, top, mid);
            hbar(top, left, right);
            hbar(mid, left, right);
            hbar(base - 1, left, right);
            break;
        case 4:  // i
            vbar(left + w / 2, top + 1, base);
            fill_rect(px, size, asc + 1, left + w / 2, asc + 2, left + w / 2 + 1);
            break;
        case 5:  // v
            diag(top, left, base, left + w / 2 - 1);
            diag(top, right - 2, base, left + w / 2 - 1);
            break;
        case 6:  // p
            vbar(left, top, desc);
            vbar(right - 1, top, mid + 2);
            hbar(top, left, right);
            hbar(mid + 2, left, right);
            break;
        case 7:  // c
            vbar(left, top, base);
            hbar(top, left, right);
            hbar(base - 1, left, right);
            break;
        case 8:  // h
            vbar(left, asc, base);
            vbar(right - 1, top + 1, base);
            hbar(top, left, right - 1);
            break;
        case 9:  // s
            hbar(top, left, right);
            hbar(mid, left, right);
            hbar(base - 1, left, right);
            vbar(left, top, mid);
            vbar(right - 1, mid, base);
            break;
        case 10:  // x
            diag(top, left, base, right - 2);
            diag(top, right - 2, base, left);
            break;
        default:  // full stop
            fill_rect(px, size, base - 2, left, base - 1, left + 1);
            break;
    }
}

// A page of text: ragged-right lines of words made of glyph-like shapes, with
// paragraph gaps and the odd ruled line. About an eighth of the page is ink.
void fill_document(uint8_t** px, int size, Rng& rng) {
    constexpr int kLinePitch = 26;
    const int margin = std::max(size / 16, 8);
    bool paragraph_start = true;
    for (int base = margin + 18; base + 6 < size - margin; base += kLinePitch) {
        const int roll = rng.below(100);
        if (roll < 6) {  // paragraph gap
            paragraph_start = true;
            continue;
        }
        if (roll < 9) {  // ruled line
            fill_rect(px, size, base - 6, margin, base - 5, size - margin - 1);
            continue;
        }
        int x = margin + (paragraph_start ? 40 : 0);
        const int line_end = size - margin - (paragraph_start ? 0 : rng.below(size / 6 + 1));
        paragraph_start = false;
        while (true) {
            const int glyphs = rng.between(1, 9);
            if (x + glyphs * 12 >= line_end) break;
            for (int g = 0; g < glyphs; ++g) {
                const int w = rng.between(7, 11);
                draw_glyph(px, size, rng.below(11), base, x, w);
                x += w + 2;
            }
            if (rng.below(8) == 0) {
                draw_glyph(px, size, 11, base, x, 2);
                x += 4;
            }
            x += 9;
        }
    }
}

// A few dozen large filled ellipses at random angles; some overlap and merge.
void fill_blobs(uint8_t** px, int size, Rng& rng) {
    for (int i = 0; i < 36; ++i) {
        const double cy = rng.unit() * size;
        const double cx = rng.unit() * size;
        const double a = size * (0.03 + 0.07 * rng.unit());
        const double b = size * (0.03 + 0.07 * rng.unit());
        const double t = rng.unit() * 3.14159265358979;
        const double ct = std::cos(t), st = std::sin(t);
        // Row by row, the ellipse is a quadratic in dx: qa dx^2 + qb dx + qc <= 0.
        const double qa = ct * ct / (a * a) + st * st / (b * b);
        const double qk = 2 * st * ct * (1 / (a * a) - 1 / (b * b));
        const double qd = st * st / (a * a) + ct * ct / (b * b);
        const double reach = std::max(a, b);
        const int r0 = std::max(0, static_cast<int>(cy - reach));
        const int r1 = std::min(size - 1, static_cast<int>(cy + reach));
        for (int r = r0; r <= r1; ++r) {
            const double dy = r - cy;
            const double qb = qk * dy;
            const double qc = qd * dy * dy - 1;
            const double disc = qb * qb - 4 * qa * qc;
            if (disc < 0) continue;
            const double root = std::sqrt(disc);
            const double lo = cx + (-qb - root) / (2 * qa);
            const double hi = cx + (-qb + root) / (2 * qa);
            fill_rect(px, size, r, static_cast<int>(std::ceil(lo)), r,
                      static_cast<int>(std::floor(hi)));
        }
    }
}

// A square spiral one pixel wide with one-pixel gaps between its turns: one
// region, yet nearly every row holds a run for every turn it crosses, and the
// turns only join at the spiral's corners.
void fill_spiral(uint8_t** px, int size) {
    int top = 0, left = 0, bottom = size - 1, right = size - 1;
    while (top <= bottom && left <= right) {
        fill_rect(px, size, top, left, top, right);
        fill_rect(px, size, top, right, bottom, right);
        if (bottom - top < 2 || right - left < 2) break;
        fill_rect(px, size, bottom, left, bottom, right);
        fill_rect(px, size, top + 2, left, bottom, left);
        if (bottom - top < 4 || right - left < 4) break;
        fill_rect(px, size, top + 2, left + 1, top + 2, left + 1);  // into the next turn
        top += 2, left += 2, bottom -= 2, right -= 2;
    }
}

std::vector<Family> make_families() {
    std::vector<Family> families;
    for (int block : {1, 4, 16}) {
        for (int density : {10, 30, 50, 70, 90}) {
            families.push_back({"noise" + std::to_string(density) + "-b" + std::to_string(block),
                                FamilyKind::kNoise, density, block});
        }
    }
    families.push_back({"document", FamilyKind::kDocument, 0, 0});
    families.push_back({"blobs", FamilyKind::kBlobs, 0, 0});
    families.push_back({"zero", FamilyKind::kZero, 0, 0});
    families.push_back({"ones", FamilyKind::kOnes, 0, 0});
    families.push_back({"checker", FamilyKind::kChecker, 0, 0});
    families.push_back({"spiral", FamilyKind::kSpiral, 0, 0});
    return families;
}

}  // namespace

const std::vector<Family>& all_families() {
    static const std::vector<Family> families = make_families();
    return families;
}

const Family* find_family(const std::string& name) {
    for (const Family& family : all_families()) {
        if (family.name == name) return &family;
    }
    return nullptr;
}

void fill_image(const Family& family, uint8_t** pixels, int size) {
    const auto bytes = static_cast<std::size_t>(size) * static_cast<std::size_t>(size);
    const uint8_t fill = family.kind == FamilyKind::kOnes ? kInk : 0;
    std::memset(pixels[0], fill, bytes);
    Rng rng{seed_for(family, size)};
    switch (family.kind) {
        case FamilyKind::kNoise:
            fill_noise(family, pixels, size, rng);
            break;
        case FamilyKind::kDocument:
            fill_document(pixels, size, rng);
            break;
        case FamilyKind::kBlobs:
            fill_blobs(pixels, size, rng);
            break;
        case FamilyKind::kChecker:
            for (int r = 0; r < size; ++r) {
                for (int c = 0; c < size; ++c) pixels[r][c] = ((r + c) & 1) != 0 ? kInk : 0;
            }
            break;
        case FamilyKind::kSpiral:
            fill_spiral(pixels, size);
            break;
        case FamilyKind::kZero:
        case FamilyKind::kOnes:
            break;
    }
}

long long count_runs(uint8_t* const* pixels, int rows, int cols) {
    long long runs = 0;
    for (int r = 0; r < rows; ++r) {
        uint8_t previous = 0;
        for (int c = 0; c < cols; ++c) {
            const uint8_t now = pixels[r][c] != 0;
            runs += now > previous;
            previous = now;
        }
    }
    return runs;
}
