// Region tables. Rows are formatted with to_chars into one buffer rather than
// printf, so a table of millions of regions costs about what writing it does.
// Centroids are in pixel units, x the column and y the row, written exactly.
#include "driver/region_table.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdint>

namespace {

class Line {
  public:
    void text(const char* s) {
        while (*s != '\0' && size_ < kSize) buffer_[size_++] = *s++;
    }
    template <typename Int>
    void number(Int n) {
        size_ = static_cast<std::size_t>(std::to_chars(buffer_ + size_, buffer_ + kSize, n).ptr -
                                         buffer_);
    }
    // The shortest fixed-point text that reads back as the same double, so
    // that no precision is lost between the runs' sums and a reader's table.
    void decimal(double x) {
        size_ = static_cast<std::size_t>(
            std::to_chars(buffer_ + size_, buffer_ + kSize, x, std::chars_format::fixed).ptr -
            buffer_);
    }
    bool put(std::FILE* out) {
        const bool ok = std::fwrite(buffer_, 1, size_, out) == size_;
        size_ = 0;
        return ok;
    }
    // Writes out what is held when another row might not fit.
    bool put_when_full(std::FILE* out) { return size_ + kRow <= kSize || put(out); }

  private:
    // A row: six integers of at most 20 characters, two centroids of at most
    // 40 (17 digits, and up to 19 zeros after the point of a centroid as small
    // as 1 / 2^64), and their names.
    static constexpr std::size_t kRow = 512;
    static constexpr std::size_t kSize = std::size_t(64) << 10;
    char buffer_[kSize];
    std::size_t size_ = 0;
};

void csv_row(Line& line, const runlabel::Region& r) {
    line.number(r.label);
    line.text(",");
    line.number(r.area);
    line.text(",");
    line.number(r.left);
    line.text(",");
    line.number(r.top);
    line.text(",");
    line.number(r.width());
    line.text(",");
    line.number(r.height());
    line.text(",");
    line.decimal(r.centroid_x());
    line.text(",");
    line.decimal(r.centroid_y());
    line.text("\n");
}

void json_object(Line& line, const runlabel::Region& r) {
    line.text("  {\"label\": ");
    line.number(r.label);
    line.text(", \"area\": ");
    line.number(r.area);
    line.text(", \"left\": ");
    line.number(r.left);
    line.text(", \"top\": ");
    line.number(r.top);
    line.text(", \"width\": ");
    line.number(r.width());
    line.text(", \"height\": ");
    line.number(r.height());
    line.text(", \"centroid_x\": ");
    line.decimal(r.centroid_x());
    line.text(", \"centroid_y\": ");
    line.decimal(r.centroid_y());
    line.text("}");
}

}  // namespace

bool wants_json(const std::string& name) {
    if (name.size() < 5) return false;
    std::string tail = name.substr(name.size() - 5);
    std::transform(tail.begin(), tail.end(), tail.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return tail == ".json";
}

bool write_region_table(std::FILE* out, const std::vector<runlabel::Region>& regions, bool json) {
    Line line;
    bool ok = true;
    if (!json) {
        line.text("label,area,left,top,width,height,centroid_x,centroid_y\n");
        ok = line.put(out);
        for (std::size_t i = 0; i < regions.size() && ok; ++i) {
            csv_row(line, regions[i]);
            ok = line.put_when_full(out);
        }
        return ok && line.put(out);
    }
    line.text(regions.empty() ? "[" : "[\n");
    ok = line.put(out);
    for (std::size_t i = 0; i < regions.size() && ok; ++i) {
        json_object(line, regions[i]);
        line.text(i + 1 < regions.size() ? ",\n" : "\n");
        ok = line.put_when_full(out);
    }
    line.text("]\n");
    return ok && line.put(out);
}
