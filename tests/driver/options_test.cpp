// The command-line parser: GNU forms of every option, file names anywhere,
// and the exact complaint for every bad option or value.
#include "driver/options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

ParsedCommandLine parse(std::vector<std::string> args) {
    args.insert(args.begin(), "runlabel");
    std::vector<const char*> argv;
    for (const std::string& a : args) argv.push_back(a.c_str());
    return parse_command_line(static_cast<int>(argv.size()), argv.data());
}

TEST(Options, TwoNamesAloneAreTheClassicForm) {
    const ParsedCommandLine p = parse({"in.pgm", "out.pgm", "ignored"});
    ASSERT_EQ(p.outcome, Parse::kRun);
    EXPECT_TRUE(p.options.plain);
    EXPECT_EQ(p.options.input, "in.pgm");
    EXPECT_EQ(p.options.output, "out.pgm");
    EXPECT_EQ(p.options.connectivity, 4);
}

TEST(Options, EveryFormOfAValueIsTheSame) {
    const std::vector<std::vector<std::string>> forms = {
        {"-c", "8", "a", "b"},
        {"-c8", "a", "b"},
        {"--connectivity", "8", "a", "b"},
        {"--connectivity=8", "a", "b"},
        {"a", "--conn=8", "b"},
        {"a", "b", "-c", "8"},
        {"-qc8", "a", "b"},
    };
    for (const auto& form : forms) {
        const ParsedCommandLine p = parse(form);
        ASSERT_EQ(p.outcome, Parse::kRun) << form[0] << ": " << p.error;
        EXPECT_EQ(p.options.connectivity, 8) << form[0];
        EXPECT_EQ(p.options.input, "a");
        EXPECT_EQ(p.options.output, "b");
        EXPECT_FALSE(p.options.plain);
    }
}

TEST(Options, EveryOptionReachesTheRecord) {
    const ParsedCommandLine p =
        parse({"-s", "t.json", "--color", "v.png", "--min-area=5", "--sort", "area", "-d", "16",
               "-j3", "-q", "--in-place", "--", "-", "-odd-name.png"});
    ASSERT_EQ(p.outcome, Parse::kRun) << p.error;
    const Options& o = p.options;
    EXPECT_EQ(o.stats, "t.json");
    EXPECT_EQ(o.color, "v.png");
    EXPECT_EQ(o.min_area, 5u);
    EXPECT_TRUE(o.sort_by_area);
    EXPECT_EQ(o.depth, 16);
    EXPECT_EQ(o.threads, 3);
    EXPECT_TRUE(o.quiet);
    EXPECT_TRUE(o.in_place);
    EXPECT_EQ(o.input, "-");  // after "--" even a leading dash is a name
    EXPECT_EQ(o.output, "-odd-name.png");
}

TEST(Options, HelpVersionAndUsage) {
    EXPECT_EQ(parse({"--help"}).outcome, Parse::kHelp);
    EXPECT_EQ(parse({"a", "-h", "b"}).outcome, Parse::kHelp);
    EXPECT_EQ(parse({"--version"}).outcome, Parse::kVersion);
    EXPECT_EQ(parse({}).outcome, Parse::kUsage);
    EXPECT_EQ(parse({"-c", "8", "only.pgm"}).outcome, Parse::kUsage);
    EXPECT_EQ(parse({"-"}).outcome, Parse::kUsage);
}

TEST(Options, BadOptionsAndValuesSayWhich) {
    const struct {
        std::vector<std::string> args;
        std::string error;
    } cases[] = {
        {{"--frobnicate", "a", "b"}, "unrecognized option '--frobnicate'"},
        {{"-x", "a", "b"}, "invalid option -- 'x'"},
        {{"--s", "a", "b"}, "ambiguous option '--s'"},
        {{"-c", "6", "a", "b"}, "invalid value '6' for --connectivity (4 or 8)"},
        {{"--connectivity=", "a", "b"}, "invalid value '' for --connectivity (4 or 8)"},
        {{"a", "b", "-c"}, "option requires a value -- 'c'"},
        {{"a", "b", "--stats"}, "option '--stats' requires a value"},
        {{"--min-area=-3", "a", "b"},
         "invalid value '-3' for --min-area (a whole number of pixels)"},
        {{"--min-area", "1e3", "a", "b"},
         "invalid value '1e3' for --min-area (a whole number of pixels)"},
        {{"--sort=size", "a", "b"}, "invalid value 'size' for --sort (area or raster)"},
        {{"-d", "12", "a", "b"}, "invalid value '12' for --depth (8, 16, 32 or 64)"},
        {{"-j", "0", "a", "b"}, "invalid value '0' for --threads (1 to 1024)"},
        {{"--quiet=yes", "a", "b"}, "option '--quiet' takes no value"},
        {{"-s", "-", "a", "-"}, "standard output can take only one of OUTPUT, --stats and --color"},
        {{"--color=-", "-s", "-", "a", "b"},
         "standard output can take only one of OUTPUT, --stats and --color"},
        {{"-d", "32", "a", "b.pgm"}, "--depth 32 needs an OUTPUT named .tif or .npy"},
        {{"-d", "32", "a", "b.png"}, "--depth 32 needs an OUTPUT named .tif or .npy"},
        {{"-d", "64", "a", "-"}, "--depth 64 needs an OUTPUT named .tif or .npy"},
    };
    for (const auto& c : cases) {
        const ParsedCommandLine p = parse(c.args);
        EXPECT_EQ(p.outcome, Parse::kError) << c.args[0];
        EXPECT_EQ(p.error, c.error);
    }
}

}  // namespace
