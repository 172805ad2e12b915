// A program's command line: its options declared once, with CLI11, the help generated from those
// declarations (HelpLayout.h) and the refusals in the program's own words (OptionWords.h, through
// CLI11's failure-message hook). Every program here takes one set of rules:
//   - "--name VALUE" or "--name=VALUE"; the word after a value option is its value whatever it looks
//     like ("--trace -"); a missing or an empty value is refused, naming the option;
//   - a value option given twice keeps the last value (the earlier one is not looked at); a repeatable
//     one (Values) keeps all, in order, and refuses an empty one among them;
//   - a flag takes no value;
//   - an unknown "--" word is refused, and "--" itself; any other word too, unless the program leaves
//     those to someone else (Others::Skip: iap-tool passes "-platform offscreen" on to Qt).
// Where several words are wrong, one refusal is given; which one follows CLI11's order (a value's
// refusal before an unknown word), not the order of the words.
//
// Depends on CLI11 and the standard library only, so every program (the simulator too) may use it.
// One thread: declare, Parse once, then read what the declarations filled in.
#pragma once

#include <CLI/CLI.hpp>

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

#include "base/OptionWords.h"

class COptionSet {
public:
    enum class Others { Refuse, Skip };
    // Takes a value; returns "" when taken, else the refusal for the user (a whole sentence).
    using Taker = std::function<std::string(const std::string& value)>;

    COptionSet(const std::string& program, const std::string& description, Others others,
               OptionWords words = OptionWords());
    COptionSet(const COptionSet&) = delete;
    COptionSet& operator=(const COptionSet&) = delete;

    // `names` as CLI11 takes them ("--help,-h"); `valueName` is what the help shows after the name.
    // Each returns the declared option, for further CLI11 settings and for LastGiven.
    CLI::Option* Value(const std::string& names, std::string& into, const std::string& valueName,
                       const std::string& help);
    // The value through `take` (the last one, when given more than once).
    CLI::Option* Value(const std::string& names, Taker take, const std::string& valueName, const std::string& help);
    // A decimal number from `low` to `high`; anything else gets `refusal(value)`.
    CLI::Option* Number(const std::string& names, int64_t& into, int64_t low, int64_t high,
                        std::function<std::string(const std::string& value)> refusal, const std::string& valueName,
                        const std::string& help);
    // Repeatable: every value is appended, in the order given.
    CLI::Option* Values(const std::string& names, std::vector<std::string>& into, const std::string& valueName,
                        const std::string& help);
    CLI::Option* Flag(const std::string& names, bool& into, const std::string& help);
    CLI::Option* Flag(const std::string& names, const std::string& help);

    // The heading the options declared after this call are listed under; "" leaves them out of the
    // help (switches for tests).
    void Group(const std::string& heading);
    // Text after the options in the help (exit statuses, environment).
    void Footer(const std::string& text);

    // `args` are the arguments after the program's name. "" when all were taken, else the refusal.
    std::string Parse(const std::vector<std::string>& args);
    // Of `among`, the option given last on the command line; nullptr when none of them was given.
    const CLI::Option* LastGiven(std::initializer_list<const CLI::Option*> among) const;
    std::string Help() const;
    // The CLI11 application, for what the helpers above do not cover.
    CLI::App& App() { return app_; }

private:
    bool Refuses(const std::string& word) const;
    // CLI11 takes "--flag=true", "--flag={}" and "--flag=" as the flag itself, and "--name= x" as
    // "--name x"; throws the refusal of a flag's value or of an empty value for them.
    void RefuseInlineValues(const std::vector<std::string>& args) const;
    std::string FailureText(const CLI::App& app, const CLI::Error& error) const;

    CLI::App app_;
    Others others_;
    OptionWords words_;
    std::string group_;
};
