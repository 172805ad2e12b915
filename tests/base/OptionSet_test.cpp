// The option layer on its own: the rules every program gets, the words a program gives it, and the help
// it lays out from the declarations. The programs' own options are checked where they run
// (tests/app/Cli_test.cpp, tests/ui/StartUp_test.cpp, tests/ui/IapTool_test.cpp).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/OptionSet.h"

namespace {

// A small program with one option of each kind.
struct Program {
    explicit Program(COptionSet::Others others, OptionWords words = OptionWords())
        : set("prog", "prog: a test program.", others, std::move(words)) {
        set.Values("--port", ports, "PORT", "a port;\nmore than one");
        set.Group("Line");
        set.Value("--link,-l", link, "PATH", "a link");
        set.Number("--baud", baud, 50, 12000000, [](const std::string& v) { return "--baud: not a rate: " + v; }, "N",
                   "the rate");
        quiet = set.Flag("--quiet", "no output");
        loud = set.Flag("--loud", "much output");
        set.Group("");
        set.Flag("--test-only", testOnly, "never shown");
        set.Footer("Exit status: 0 or 64.\n");
    }
    COptionSet set;
    std::vector<std::string> ports;
    std::string link;
    int64_t baud = 0;
    bool testOnly = false;
    const CLI::Option* quiet = nullptr;
    const CLI::Option* loud = nullptr;
};

TEST(OptionSet, OneRuleForEveryProgramInItsOwnWords) {
    OptionWords english;
    english.unknown = "unknown option '{}'";
    english.needsValue = "{} needs a value";
    english.emptyValue = "{} needs a non-empty value";
    english.takesNoValue = "{} takes no value";
    struct Row {
        std::vector<std::string> args;
        COptionSet::Others others;
        std::string error;
    };
    const Row rows[] = {
        {{"--port", "a", "--port=b", "-l", "x", "--link", "y", "--baud", "9600"}, COptionSet::Others::Refuse, ""},
        {{"--bogus"}, COptionSet::Others::Refuse, "unknown option '--bogus'"},
        {{"--port", "a", "b"}, COptionSet::Others::Refuse, "unknown option 'b'"},
        {{"--port", "a", "b", "-x"}, COptionSet::Others::Skip, ""},
        {{"-x", "--"}, COptionSet::Others::Skip, "unknown option '--'"},
        {{"--link"}, COptionSet::Others::Skip, "--link needs a value"},
        {{"--test-only=yes"}, COptionSet::Others::Refuse, "--test-only takes no value"},
        {{"--test-only=true"}, COptionSet::Others::Refuse, "--test-only takes no value"},
        {{"--quiet={}"}, COptionSet::Others::Refuse, "--quiet takes no value"},
        {{"--link", "--quiet=", "--quiet="}, COptionSet::Others::Refuse, "--quiet takes no value"},
        {{"--link=", "x"}, COptionSet::Others::Refuse, "--link needs a non-empty value"},
        {{"--port=", "a"}, COptionSet::Others::Refuse, "--port needs a non-empty value"},
        {{"--port", "a", "--port", ""}, COptionSet::Others::Refuse, "--port needs a non-empty value"},
        {{"--baud", "49"}, COptionSet::Others::Refuse, "--baud: not a rate: 49"},
        {{"--baud", "0x100"}, COptionSet::Others::Refuse, "--baud: not a rate: 0x100"},
        {{"--baud", "99999999999999999999"}, COptionSet::Others::Refuse, "--baud: not a rate: 99999999999999999999"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.args[0] + " -> " + row.error);
        Program program(row.others, english);
        EXPECT_EQ(program.set.Parse(row.args), row.error);
        if (!row.error.empty()) continue;
        if (row.others == COptionSet::Others::Refuse) {
            EXPECT_EQ(program.ports, (std::vector<std::string>{"a", "b"}));
            EXPECT_EQ(program.link, "y") << "given twice, the last one counts";
            EXPECT_EQ(program.baud, 9600);
        } else {
            EXPECT_EQ(program.ports, (std::vector<std::string>{"a"}));
        }
    }
}

TEST(OptionSet, AValueThatLooksLikeAnOptionGivenAValueIsAValue) {
    Program program(COptionSet::Others::Refuse);
    EXPECT_EQ(program.set.Parse({"--link", "--quiet=true", "--port", "--test-only=", "--port", "--link="}), "");
    EXPECT_EQ(program.link, "--quiet=true");
    EXPECT_EQ(program.ports, (std::vector<std::string>{"--test-only=", "--link="}));
    EXPECT_FALSE(program.testOnly);
    EXPECT_EQ(program.set.LastGiven({program.quiet, program.loud}), nullptr);
}

TEST(OptionSet, TheFlagGivenLastDecides) {
    Program program(COptionSet::Others::Refuse);
    EXPECT_EQ(program.set.Parse({"--loud", "--quiet", "--port", "a"}), "");
    EXPECT_EQ(program.set.LastGiven({program.quiet, program.loud}), program.quiet);
    Program none(COptionSet::Others::Refuse);
    EXPECT_EQ(none.set.Parse({"--port", "a"}), "");
    EXPECT_EQ(none.set.LastGiven({none.quiet, none.loud}), nullptr);
}

TEST(OptionSet, TheHelpIsLaidOutFromTheDeclarations) {
    Program program(COptionSet::Others::Refuse);
    EXPECT_EQ(program.set.Help(),
              "prog: a test program.\n"
              "\n"
              "Вызов: prog [--port PORT]... [--link PATH] [--baud N] [--quiet] [--loud]\n"
              "\n"
              "Параметры:\n"
              "  --port PORT      a port;\n"
              "                   more than one\n"
              "\n"
              "Line:\n"
              "  --link, -l PATH  a link\n"
              "  --baud N         the rate\n"
              "  --quiet          no output\n"
              "  --loud           much output\n"
              "\n"
              "Exit status: 0 or 64.\n");
}

TEST(OptionSet, ALongUsageWrapsUnderTheProgramsName) {
    COptionSet set("прог", "", COptionSet::Others::Refuse);
    std::vector<std::string> values(12);
    for (size_t i = 0; i < values.size(); ++i) set.Value("--option-" + std::to_string(i), values[i], "ЗНАЧЕНИЕ", "");
    const std::string help = set.Help();
    const std::string usage = help.substr(0, help.find("\n\n"));
    size_t lines = 0;
    for (size_t start = 0; start < usage.size(); ++lines) {
        const size_t end = std::min(usage.find('\n', start), usage.size());
        const std::string line = usage.substr(start, end - start);
        // Counted in characters: the Cyrillic value names take two bytes each.
        size_t columns = 0;
        for (char c : line) columns += (c & 0xC0) != 0x80;
        EXPECT_LE(columns, 100u) << line;
        if (lines > 0) {
            EXPECT_EQ(line.rfind("            [--option-", 0), 0u) << line;
        }
        start = end + 1;
    }
    EXPECT_GT(lines, 2u) << usage;
}

}  // namespace
