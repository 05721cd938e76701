// Parsing the command line. Every value is checked here, so a bad one stops
// the run before anything is read or written.
#include "driver/options.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <vector>

#include "imagefiles/output_formats.h"

namespace {

enum class Id {
    kConnectivity,
    kStats,
    kColor,
    kMinArea,
    kSort,
    kDepth,
    kThreads,
    kQuiet,
    kInPlace,
    kHelp,
    kVersion
};

struct OptionDef {
    Id id;
    const char* name;  // long name, without "--"
    char letter;       // short name, or 0
    bool takes_value;
};

constexpr OptionDef kOptionDefs[] = {
    {Id::kConnectivity, "connectivity", 'c', true},
    {Id::kStats, "stats", 's', true},
    {Id::kColor, "color", 0, true},
    {Id::kMinArea, "min-area", 0, true},
    {Id::kSort, "sort", 0, true},
    {Id::kDepth, "depth", 'd', true},
    {Id::kThreads, "threads", 'j', true},
    {Id::kQuiet, "quiet", 'q', false},
    {Id::kInPlace, "in-place", 0, false},
    {Id::kHelp, "help", 'h', false},
    {Id::kVersion, "version", 0, false},
};

// A whole decimal number from low to high, or false.
bool parse_number(std::string_view text, long long low, long long high, long long* value) {
    if (text.empty() || text.size() > 20) return false;
    const std::string copy(text);
    // strtoull would take a sign or leading blanks; a count takes neither.
    if (copy[0] < '0' || copy[0] > '9') return false;
    char* end = nullptr;
    errno = 0;
    const unsigned long long n = std::strtoull(copy.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || n < static_cast<unsigned long long>(low) ||
        n > static_cast<unsigned long long>(high))
        return false;
    *value = static_cast<long long>(n);
    return true;
}

// Applies one option and its value; returns the error, or "" when all is well.
std::string apply(const OptionDef& def, std::string_view value, Options& o) {
    const std::string shown = "--" + std::string(def.name);
    auto bad = [&](const char* wanted) {
        return "invalid value '" + std::string(value) + "' for " + shown + " (" + wanted + ")";
    };
    long long n = 0;
    switch (def.id) {
        case Id::kConnectivity:
            if (value != "4" && value != "8") return bad("4 or 8");
            o.connectivity = value == "8" ? 8 : 4;
            break;
        case Id::kStats:
            if (value.empty()) return bad("a file name, or - for standard output");
            o.stats = value;
            break;
        case Id::kColor:
            if (value.empty()) return bad("a file name");
            o.color = value;
            break;
        case Id::kMinArea:
            if (!parse_number(value, 0, LLONG_MAX, &n)) return bad("a whole number of pixels");
            o.min_area = static_cast<std::uint64_t>(n);
            break;
        case Id::kSort:
            if (value != "area" && value != "raster") return bad("area or raster");
            o.sort_by_area = value == "area";
            break;
        case Id::kDepth:
            if (value != "8" && value != "16" && value != "32" && value != "64") {
                return bad("8, 16, 32 or 64");
            }
            o.depth = std::atoi(std::string(value).c_str());
            break;
        case Id::kThreads:
            if (!parse_number(value, 1, 1024, &n)) return bad("1 to 1024");
            o.threads = static_cast<int>(n);
            break;
        case Id::kQuiet:
            o.quiet = true;
            break;
        case Id::kInPlace:
            o.in_place = true;
            break;
        case Id::kHelp:
        case Id::kVersion:
            break;
    }
    return "";
}

const OptionDef* find_long(std::string_view name, std::string* error) {
    const OptionDef* found = nullptr;
    int matches = 0;
    for (const OptionDef& def : kOptionDefs) {
        if (name == def.name) return &def;
        // An unambiguous prefix names its option, as GNU tools allow.
        if (std::string_view(def.name).substr(0, name.size()) == name) {
            found = &def;
            ++matches;
        }
    }
    if (matches == 1) return found;
    *error = (matches == 0 ? "unrecognized option '--" : "ambiguous option '--") +
             std::string(name) + "'";
    return nullptr;
}

const OptionDef* find_short(char letter) {
    for (const OptionDef& def : kOptionDefs) {
        if (def.letter == letter) return &def;
    }
    return nullptr;
}

}  // namespace

bool classic_output_name(const std::string& output) {
    return format_for(output, Content::kLabels).otherwise;
}

ParsedCommandLine parse_command_line(int argc, const char* const* argv) {
    ParsedCommandLine result;
    Options& o = result.options;
    if (argc > 0 && argv[0] != nullptr) o.program = argv[0];
    std::vector<std::string> names;
    bool help = false, version = false, options_end = false;
    auto fail = [&](std::string error) {
        result.outcome = Parse::kError;
        result.error = std::move(error);
        return result;
    };
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (options_end || arg == "-" || arg.empty() || arg[0] != '-') {
            names.emplace_back(arg);
            continue;
        }
        if (arg == "--") {
            options_end = true;
            o.plain = false;
            continue;
        }
        o.plain = false;
        if (arg.substr(0, 2) == "--") {
            const std::string_view body = arg.substr(2);
            const std::size_t eq = body.find('=');
            std::string error;
            const OptionDef* def = find_long(body.substr(0, eq), &error);
            if (def == nullptr) return fail(error);
            std::string_view value;
            if (def->takes_value) {
                if (eq != std::string_view::npos) {
                    value = body.substr(eq + 1);
                } else if (i + 1 < argc) {
                    value = argv[++i];
                } else {
                    return fail("option '--" + std::string(def->name) + "' requires a value");
                }
            } else if (eq != std::string_view::npos) {
                return fail("option '--" + std::string(def->name) + "' takes no value");
            }
            help |= def->id == Id::kHelp;
            version |= def->id == Id::kVersion;
            if (std::string e = apply(*def, value, o); !e.empty()) return fail(e);
            continue;
        }
        // Short options, bundled ("-q8" is not: a value ends the bundle).
        for (std::size_t k = 1; k < arg.size(); ++k) {
            const OptionDef* def = find_short(arg[k]);
            if (def == nullptr) return fail("invalid option -- '" + std::string(1, arg[k]) + "'");
            std::string_view value;
            if (def->takes_value) {
                if (k + 1 < arg.size()) {
                    value = arg.substr(k + 1);
                } else if (i + 1 < argc) {
                    value = argv[++i];
                } else {
                    return fail("option requires a value -- '" + std::string(1, arg[k]) + "'");
                }
                k = arg.size();
            }
            help |= def->id == Id::kHelp;
            if (std::string e = apply(*def, value, o); !e.empty()) return fail(e);
        }
    }
    if (help) {
        result.outcome = Parse::kHelp;
    } else if (version) {
        result.outcome = Parse::kVersion;
    } else if (names.size() < 2) {
        result.outcome = Parse::kUsage;
    } else {
        o.input = names[0];
        o.output = names[1];
        const int on_stdout = (o.output == "-") + (o.stats == "-") + (o.color == "-");
        if (on_stdout > 1)
            return fail("standard output can take only one of OUTPUT, --stats and --color");
        if (!o.plain && o.depth != 0 &&
            !holds_label_bits(format_for(o.output, Content::kLabels), o.depth)) {
            return fail("--depth " + std::to_string(o.depth) + " needs an OUTPUT named " +
                        formats_holding_label_bits(o.depth));
        }
    }
    return result;
}
