// The statistics of a region, each declared once: the fields it keeps in a
// region's record, how runs add to them, how two records of one region (bands,
// tiles) merge, and the columns it gives the region table (CSV, JSON) and
// Python. sum_regions, merge, the table and the Python columns fold over
// RegionStatistics and name no field themselves.
//
// A record is any type with the members the statistics name (the public
// runlabel::Region, pinned to member_bytes in api/labeling.cpp), so that the
// engine does without the public header.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <tuple>

namespace runlabel::engine {

// A column of a region table: its name and the value it shows of a record.
// The value's type is the column's: an integer, or a real written exactly
// (float64 in Python).
template <typename Value>
struct Column {
    const char* name;
    Value value;
};
template <typename Value>
constexpr Column<Value> column(const char* name, Value value) {
    return {name, value};
}

// What a statistic offers (every member static; R is the record type):
//
//   Part                 what runs of one region side by side in a row add up
//                        to, kept in registers while sum_regions walks the row
//   start(from)          the Part of a stretch whose first run starts at from
//   add_run(part, f, t)  a run of columns [f, t) of the stretch
//   add(r, parts, y)     a stretch of row y into the record; parts holds every
//                        statistic's Part, so a figure may use another's
//   clear(r)             the record of a region no run has reached
//   merge(into, part)    two records of one region, neither cleared
//   members<R>()         pointers to the fields it keeps in R
//   table_columns<R>()   its columns of the CSV and JSON tables
//   python_columns<R>()  its columns of Python's regions(), each an int64 or
//                        a double, named as scikit-image's regionprops_table
//
// Nothing here sees the pixels: every figure is one a run's bounds give.

// The region's label. The numbering sets it, not the runs: a merge keeps the
// label of the record merged into.
struct Label {
    struct Part {};
    static Part start(std::uint64_t) { return {}; }
    static void add_run(Part&, std::uint64_t, std::uint64_t) {}
    template <typename R, typename Parts>
    static void add(R&, const Parts&, std::int64_t) {}
    template <typename R>
    static void clear(R&) {}
    template <typename R>
    static void merge(R&, const R&) {}
    template <typename R>
    static constexpr auto members() {
        return std::make_tuple(&R::label);
    }
    template <typename R>
    static constexpr auto table_columns() {
        return std::make_tuple(column("label", [](const R& r) { return r.label; }));
    }
    template <typename R>
    static constexpr auto python_columns() {
        return std::make_tuple(
            column("label", [](const R& r) { return static_cast<std::int64_t>(r.label); }));
    }
};

// Its pixels.
struct Area {
    struct Part {
        std::uint64_t area;
    };
    static Part start(std::uint64_t) { return {0}; }
    static void add_run(Part& p, std::uint64_t from, std::uint64_t to) { p.area += to - from; }
    template <typename R, typename Parts>
    static void add(R& r, const Parts& parts, std::int64_t) {
        r.area += std::get<Part>(parts).area;
    }
    template <typename R>
    static void clear(R& r) {
        r.area = 0;
    }
    template <typename R>
    static void merge(R& into, const R& part) {
        into.area += part.area;
    }
    template <typename R>
    static constexpr auto members() {
        return std::make_tuple(&R::area);
    }
    template <typename R>
    static constexpr auto table_columns() {
        return std::make_tuple(column("area", [](const R& r) { return r.area; }));
    }
    template <typename R>
    static constexpr auto python_columns() {
        return std::make_tuple(
            column("area", [](const R& r) { return static_cast<std::int64_t>(r.area); }));
    }
};

// Its bounding box, inclusive. A cleared box is empty: left and top past any
// pixel, right and bottom before any. Rows come in order, so a stretch's row
// is the bottom.
struct Box {
    struct Part {
        std::int64_t left, right;
    };
    static Part start(std::uint64_t from) { return {static_cast<std::int64_t>(from), 0}; }
    static void add_run(Part& p, std::uint64_t, std::uint64_t to) {
        p.right = static_cast<std::int64_t>(to) - 1;
    }
    template <typename R, typename Parts>
    static void add(R& r, const Parts& parts, std::int64_t y) {
        const Part& p = std::get<Part>(parts);
        r.left = std::min(r.left, p.left);
        r.right = std::max(r.right, p.right);
        r.top = std::min(r.top, y);
        r.bottom = y;
    }
    template <typename R>
    static void clear(R& r) {
        r.left = r.top = INT64_MAX;
        r.right = r.bottom = INT64_MIN;
    }
    template <typename R>
    static void merge(R& into, const R& part) {
        into.left = std::min(into.left, part.left);
        into.top = std::min(into.top, part.top);
        into.right = std::max(into.right, part.right);
        into.bottom = std::max(into.bottom, part.bottom);
    }
    template <typename R>
    static constexpr auto members() {
        return std::make_tuple(&R::left, &R::top, &R::right, &R::bottom);
    }
    template <typename R>
    static constexpr auto table_columns() {
        return std::make_tuple(column("left", [](const R& r) { return r.left; }),
                               column("top", [](const R& r) { return r.top; }),
                               column("width", [](const R& r) { return r.width(); }),
                               column("height", [](const R& r) { return r.height(); }));
    }
    // As scikit-image gives boxes: first row and column, then the far edges
    // one past the last pixel.
    template <typename R>
    static constexpr auto python_columns() {
        return std::make_tuple(
            column("bbox-0", [](const R& r) { return static_cast<std::int64_t>(r.top); }),
            column("bbox-1", [](const R& r) { return static_cast<std::int64_t>(r.left); }),
            column("bbox-2", [](const R& r) { return static_cast<std::int64_t>(r.bottom + 1); }),
            column("bbox-3", [](const R& r) { return static_cast<std::int64_t>(r.right + 1); }));
    }
};

// Its centroid, from the sums of its pixels' columns and rows: sums add up
// over parts where means would not.
struct Centroid {
    struct Part {
        std::uint64_t sum_x;
    };
    static Part start(std::uint64_t) { return {0}; }
    // from + ... + (to - 1): one of the two factors is even.
    static void add_run(Part& p, std::uint64_t from, std::uint64_t to) {
        p.sum_x += (from + to - 1) * (to - from) / 2;
    }
    template <typename R, typename Parts>
    static void add(R& r, const Parts& parts, std::int64_t y) {
        r.sum_x += std::get<Part>(parts).sum_x;
        r.sum_y += static_cast<std::uint64_t>(y) * std::get<Area::Part>(parts).area;
    }
    template <typename R>
    static void clear(R& r) {
        r.sum_x = r.sum_y = 0;
    }
    template <typename R>
    static void merge(R& into, const R& part) {
        into.sum_x += part.sum_x;
        into.sum_y += part.sum_y;
    }
    template <typename R>
    static constexpr auto members() {
        return std::make_tuple(&R::sum_x, &R::sum_y);
    }
    template <typename R>
    static constexpr auto table_columns() {
        return std::make_tuple(column("centroid_x", [](const R& r) { return r.centroid_x(); }),
                               column("centroid_y", [](const R& r) { return r.centroid_y(); }));
    }
    // Row first, as scikit-image's coordinates are.
    template <typename R>
    static constexpr auto python_columns() {
        return std::make_tuple(column("centroid-0", [](const R& r) { return r.centroid_y(); }),
                               column("centroid-1", [](const R& r) { return r.centroid_x(); }));
    }
};

// Statistics taken together, in column order.
template <typename... S>
struct Statistics {
    using Parts = std::tuple<typename S::Part...>;

    static Parts start(std::uint64_t from) { return Parts{S::start(from)...}; }
    static void add_run(Parts& parts, std::uint64_t from, std::uint64_t to) {
        (S::add_run(std::get<typename S::Part>(parts), from, to), ...);
    }
    template <typename R>
    static void add(R& r, const Parts& parts, std::int64_t y) {
        (S::add(r, parts, y), ...);
    }
    template <typename R>
    static void clear(R& r) {
        (S::clear(r), ...);
    }
    template <typename R>
    static void merge(R& into, const R& part) {
        (S::merge(into, part), ...);
    }
    template <typename R>
    static constexpr auto table_columns() {
        return std::tuple_cat(S::template table_columns<R>()...);
    }
    template <typename R>
    static constexpr auto python_columns() {
        return std::tuple_cat(S::template python_columns<R>()...);
    }
    template <typename R>
    static constexpr auto members() {
        return std::tuple_cat(S::template members<R>()...);
    }
    // The bytes of the fields the statistics keep: sizeof(R) when every field
    // of R belongs to one.
    template <typename R>
    static constexpr std::size_t member_bytes() {
        return std::apply([](auto... m) { return (std::size_t{0} + ... + field_size(m)); },
                          members<R>());
    }

  private:
    template <typename R, typename T>
    static constexpr std::size_t field_size(T R::*) {
        return sizeof(T);
    }
};

using RegionStatistics = Statistics<Label, Area, Box, Centroid>;

// Calls f on each column of a tuple of them, in order.
template <typename Columns, typename F>
constexpr void for_each_column(const Columns& columns, F&& f) {
    std::apply([&](const auto&... c) { (f(c), ...); }, columns);
}

}  // namespace runlabel::engine
