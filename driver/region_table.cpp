// Region tables. Rows are formatted with to_chars into one buffer rather than
// printf, so a table of millions of regions costs about what writing it does.
// The columns are the statistics' own (labeling/region_fields.h); reals, the
// centroids in pixel units, are written exactly.
#include "driver/region_table.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdint>
#include <string_view>
#include <type_traits>

#include "labeling/region_fields.h"

namespace {

constexpr auto kColumns = runlabel::engine::RegionStatistics::table_columns<runlabel::Region>();

// The most characters a value of a column takes: an integer of 64 bits, or a
// real of 17 digits with up to 19 zeros after the point (a centroid as small
// as 1 / 2^64), sign and point.
template <typename Value>
constexpr std::size_t longest_value() {
    return std::is_floating_point_v<Value> ? 40 : 20;
}

// The most characters of a row, CSV or JSON: each value with its name, quotes
// and separators.
constexpr std::size_t longest_row() {
    std::size_t chars = 8;
    runlabel::engine::for_each_column(kColumns, [&](const auto& c) {
        using Value = decltype(c.value(runlabel::Region{}));
        chars += std::string_view(c.name).size() + 6 + longest_value<Value>();
    });
    return chars;
}

class Line {
  public:
    void text(const char* s) {
        while (*s != '\0' && size_ < kSize) buffer_[size_++] = *s++;
    }
    template <typename Value>
    void value(Value v) {
        if constexpr (std::is_floating_point_v<Value>) {
            decimal(v);
        } else {
            number(v);
        }
    }
    bool put(std::FILE* out) {
        const bool ok = std::fwrite(buffer_, 1, size_, out) == size_;
        size_ = 0;
        return ok;
    }
    // Writes out what is held when another row might not fit.
    bool put_when_full(std::FILE* out) { return size_ + kRow <= kSize || put(out); }

  private:
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

    static constexpr std::size_t kRow = 512;
    static_assert(longest_row() <= kRow, "a row of the region table fits in kRow");
    static constexpr std::size_t kSize = std::size_t(64) << 10;
    char buffer_[kSize];
    std::size_t size_ = 0;
};

void csv_header(Line& line) {
    const char* separator = "";
    runlabel::engine::for_each_column(kColumns, [&](const auto& c) {
        line.text(separator);
        line.text(c.name);
        separator = ",";
    });
    line.text("\n");
}

void csv_row(Line& line, const runlabel::Region& r) {
    const char* separator = "";
    runlabel::engine::for_each_column(kColumns, [&](const auto& c) {
        line.text(separator);
        line.value(c.value(r));
        separator = ",";
    });
    line.text("\n");
}

void json_object(Line& line, const runlabel::Region& r) {
    const char* opening = "  {\"";
    runlabel::engine::for_each_column(kColumns, [&](const auto& c) {
        line.text(opening);
        line.text(c.name);
        line.text("\": ");
        line.value(c.value(r));
        opening = ", \"";
    });
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
        csv_header(line);
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
