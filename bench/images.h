// Benchmark images: the families the labeling is measured on, generated from
// fixed seeds so that every run of the benchmark sees the same pixels.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

enum class FamilyKind { kNoise, kDocument, kBlobs, kZero, kOnes, kChecker, kSpiral };

struct Family {
    std::string name;  // "noise30-b4", "document", ...
    FamilyKind kind;
    int density;  // percent of foreground cells, noise only
    int block;    // side of one noise cell in pixels, noise only
};

// Every family, noise first (densities 10..90 by block sizes 1, 4, 16).
const std::vector<Family>& all_families();

// The family of that name, or nullptr.
const Family* find_family(const std::string& name);

// Fills a size x size image (rows of one shared block, as the byte matrix
// allocator makes them) with the family's pattern: 0 background, 255
// foreground. The same family and size always give the same pixels.
void fill_image(const Family& family, uint8_t** pixels, int size);

// Number of maximal horizontal foreground stretches in the image.
long long count_runs(uint8_t* const* pixels, int rows, int cols);
