// The documentation against the program: every option --help lists and
// every output format's name is in the man page and the README, and --help
// fits an 80-column terminal.
#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "imagefiles/output_formats.h"
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
    std::vector<std::string> options;
    for (const std::string& line : lines) {
        const std::size_t indent = line.find_first_not_of(' ');
        if (indent < 2 || indent > 6 || line[indent] != '-') continue;
        const std::string head = line.substr(indent, line.find("  ", indent) - indent);
        // Words of the head that start with '-' and a letter, up to what is
        // not a letter or '-' ("--connectivity=4|8," gives "--connectivity").
        std::istringstream words(head);
        for (std::string word; words >> word;) {
            const std::size_t dashes = word.find_first_not_of('-');
            if (dashes == 0 || dashes > 2 || dashes == std::string::npos) continue;
            if (word[dashes] < 'a' || word[dashes] > 'z') continue;
            std::size_t end = dashes;
            while (end < word.size() &&
                   (std::islower(static_cast<unsigned char>(word[end])) || word[end] == '-'))
                ++end;
            options.push_back(word.substr(0, end));
        }
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

// A format added to the table is documented where users look: each name
// that asks for it in --help, the man page (as roff writes a word, ".B .png"
// or ".BR .tif \", \" .tiff") and the README ("`.png`").
TEST(Docs, EveryWrittenSuffixIsInTheHelpManPageAndReadme) {
    std::string help;
    for (const std::string& line : help_lines()) help += line + "\n";
    const std::string man = repository_file("docs/runlabel.1");
    const std::string readme = repository_file("README.md");
    for (const OutputFormat* format : output_formats()) {
        if (format->otherwise) continue;  // written for any name, so named by what it is
        for (const std::string_view view : format->suffixes) {
            const std::string suffix(view);
            EXPECT_NE(help.find(" " + suffix + " "), std::string::npos) << suffix << " in --help";
            EXPECT_TRUE(man.find(".B " + suffix + "\n") != std::string::npos ||
                        man.find(".BR " + suffix + " ") != std::string::npos ||
                        man.find("\" " + suffix + "\n") != std::string::npos)
                << suffix << " in docs/runlabel.1";
            EXPECT_NE(readme.find("`" + suffix + "`"), std::string::npos)
                << suffix << " in README.md";
        }
    }
}

TEST(Docs, HelpFitsEightyColumns) {
    for (const std::string& line : help_lines())
        EXPECT_LE(line.size(), 80u) << line.size() << " columns: " << line;
}

}  // namespace
