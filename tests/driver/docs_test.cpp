// The documentation against the program: every option --help lists is in
// the man page and the README, and --help fits an 80-column terminal.
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "tests/driver/process.h"

namespace {

namespace fs = std::filesystem;
using runlabel_test::Outcome;
using runlabel_test::read_file;
using runlabel_test::Sandbox;

std::string repository_file(const std::string& name) {
    const fs::path path = fs::path(RUNLABEL_TEST_DATA).parent_path() / name;
    const std::optional<std::string> text = read_file(path);
    if (!text) ADD_FAILURE() << "cannot read " << path;
    return text.value_or("");
}

std::vector<std::string> help_lines() {
    Sandbox box;
    const Outcome help = box.run({"--help"});
    EXPECT_EQ(help.status, 0);
    std::vector<std::string> lines;
    std::istringstream in(help.out);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// The options of --help's option lines ("  -c, --connectivity=4|8  ...",
// "      --color=FILE  ..."): every -x and --name before the description.
std::vector<std::string> help_options(const std::vector<std::string>& lines) {
    const std::regex token(R"((^| )(--?[a-z][a-z-]*))");
    std::vector<std::string> options;
    for (const std::string& line : lines) {
        const std::size_t indent = line.find_first_not_of(' ');
        if (indent < 2 || indent > 6 || line[indent] != '-') continue;
        const std::string head = line.substr(indent, line.find("  ", indent) - indent);
        for (std::sregex_iterator it(head.begin(), head.end(), token), end; it != end; ++it)
            options.push_back((*it)[2]);
    }
    return options;
}

// How roff writes a name: every '-' as "\-".
std::string in_roff(const std::string& option) {
    std::string escaped;
    for (char c : option) escaped += c == '-' ? std::string("\\-") : std::string(1, c);
    return escaped;
}

TEST(Docs, EveryHelpOptionIsInTheManPageAndTheReadme) {
    const std::vector<std::string> options = help_options(help_lines());
    EXPECT_GE(options.size(), 16u);  // all of them found, short and long
    const std::string man = repository_file("docs/runlabel.1");
    const std::string readme = repository_file("README.md");
    for (const std::string& option : options) {
        EXPECT_NE(man.find("\\fB" + in_roff(option) + "\\fR"), std::string::npos)
            << option << " is not in docs/runlabel.1";
        EXPECT_NE(readme.find("`" + option), std::string::npos) << option << " is not in README.md";
    }
}

TEST(Docs, HelpFitsEightyColumns) {
    for (const std::string& line : help_lines())
        EXPECT_LE(line.size(), 80u) << line.size() << " columns: " << line;
}

}  // namespace
