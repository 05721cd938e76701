// The region table's exact text in both forms, and the colour of labels:
// fixed, black only for the background, far apart for labels in a row.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "driver/color_view.h"
#include "driver/region_table.h"

namespace {

std::string table_text(const std::vector<runlabel::Region>& regions, bool json) {
    char* data = nullptr;
    std::size_t size = 0;
    std::FILE* out = open_memstream(&data, &size);
    EXPECT_TRUE(write_region_table(out, regions, json));
    std::fclose(out);
    std::string text(data, size);
    std::free(data);
    return text;
}

runlabel::Region region(uint64_t label, uint64_t area, int64_t left, int64_t top, int64_t right,
                        int64_t bottom, uint64_t sum_x, uint64_t sum_y) {
    runlabel::Region r;
    r.label = label;
    r.area = area;
    r.left = left;
    r.top = top;
    r.right = right;
    r.bottom = bottom;
    r.sum_x = sum_x;
    r.sum_y = sum_y;
    return r;
}

TEST(RegionTable, CsvAndJsonText) {
    const std::vector<runlabel::Region> regions = {region(1, 6, 2, 1, 4, 2, 18, 9),
                                                   region(2, 3, 0, 3, 0, 5, 0, 12)};
    EXPECT_EQ(table_text(regions, false),
              "label,area,left,top,width,height,centroid_x,centroid_y\n"
              "1,6,2,1,3,2,3,1.5\n"
              "2,3,0,3,1,3,0,4\n");
    EXPECT_EQ(table_text(regions, true),
              "[\n"
              "  {\"label\": 1, \"area\": 6, \"left\": 2, \"top\": 1, \"width\": 3, \"height\": 2, "
              "\"centroid_x\": 3, \"centroid_y\": 1.5},\n"
              "  {\"label\": 2, \"area\": 3, \"left\": 0, \"top\": 3, \"width\": 1, \"height\": 3, "
              "\"centroid_x\": 0, \"centroid_y\": 4}\n"
              "]\n");
    EXPECT_EQ(table_text({}, false), "label,area,left,top,width,height,centroid_x,centroid_y\n");
    EXPECT_EQ(table_text({}, true), "[]\n");
}

// Centroids read back as the very doubles the sums give, as a regionprops
// table keeps them: three decimals lost a thousandth of a pixel.
TEST(RegionTable, CentroidsReadBackExactly) {
    const std::vector<runlabel::Region> regions = {
        region(1, 3, 0, 0, 9, 9, 1, 2),                    // 1/3 and 2/3
        region(2, 7, 0, 0, 99999, 9, 699992, 10),          // 99998.857142857...
        region(3, 1u << 30, 0, 0, 9, 9, 1, 0),             // 2^-30, past three decimals
        region(4, UINT64_MAX, 0, 0, 9, 9, 1, UINT64_MAX),  // the smallest and a whole one
    };
    const std::string text = table_text(regions, false);
    std::istringstream lines(text);
    std::string line;
    std::getline(lines, line);  // the header
    for (const runlabel::Region& r : regions) {
        ASSERT_TRUE(std::getline(lines, line));
        const std::size_t y = line.rfind(','), x = line.rfind(',', y - 1);
        EXPECT_EQ(std::strtod(line.substr(x + 1, y - x - 1).c_str(), nullptr), r.centroid_x())
            << line;
        EXPECT_EQ(std::strtod(line.substr(y + 1).c_str(), nullptr), r.centroid_y()) << line;
        EXPECT_EQ(line.find('e'), std::string::npos) << line;  // fixed point, as a table reads
    }
}

TEST(RegionTable, JsonByName) {
    EXPECT_TRUE(wants_json("regions.json"));
    EXPECT_TRUE(wants_json("REGIONS.JSON"));
    EXPECT_FALSE(wants_json("regions.csv"));
    EXPECT_FALSE(wants_json("json"));
    EXPECT_FALSE(wants_json("-"));
}

TEST(ColorView, FixedColoursFarApartAndNeverBlack) {
    uint8_t black[3];
    label_color(0, black);
    EXPECT_EQ(black[0] + black[1] + black[2], 0);
    std::set<uint32_t> seen;
    for (uint64_t label = 1; label <= 5000; ++label) {
        uint8_t a[3], b[3], again[3];
        label_color(label, a);
        label_color(label + 1, b);
        label_color(label, again);
        EXPECT_EQ(std::vector<uint8_t>(a, a + 3), std::vector<uint8_t>(again, again + 3));
        EXPECT_GT(a[0] + a[1] + a[2], 150) << label;  // bright enough to see on black
        const int distance = std::abs(a[0] - b[0]) + std::abs(a[1] - b[1]) + std::abs(a[2] - b[2]);
        EXPECT_GT(distance, 90) << "labels " << label << " and " << label + 1;
        seen.insert(uint32_t(a[0]) << 16 | uint32_t(a[1]) << 8 | a[2]);
    }
    EXPECT_GT(seen.size(), 4000u);  // colours rarely repeat
}

}  // namespace
