#include "base/OptionSet.h"

#include <algorithm>
#include <memory>
#include <sstream>
#include <utility>

#include "base/HelpLayout.h"

namespace {

// The option an error of CLI11 is about: its message starts with the option's name ("--folder: ...",
// or "plain was given ..." for a flag), the only place CLI11 keeps it.
const CLI::Option* OptionOfError(const CLI::App& app, const std::string& message) {
    const std::string word = message.substr(0, message.find_first_of(": "));
    if (word.empty()) return nullptr;
    for (const std::string& name : {word, "--" + word, "-" + word})
        if (const CLI::Option* option = app.get_option_no_throw(name)) return option;
    return nullptr;
}

bool IsDecimal(const std::string& text, int64_t& value) {
    // Ten digits at most: every value fits, and "99999999999999999999" cannot overflow.
    if (text.empty() || text.size() > 10) return false;
    value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + (c - '0');
    }
    return true;
}

}  // namespace

COptionSet::COptionSet(const std::string& program, const std::string& description, Others others, OptionWords words)
    : app_(description, program), others_(others), words_(std::move(words)), group_(words_.options) {
    // --help is an ordinary flag of each program: what it does (and with which other words) is the
    // program's business.
    app_.set_help_flag();
    // Unknown words are collected and judged here, so that Others::Skip can let some through.
    app_.allow_extras();
    app_.formatter(std::make_shared<CHelpLayout>(words_.usage));
    app_.failure_message([this](const CLI::App* app, const CLI::Error& error) { return FailureText(*app, error); });
}

CLI::Option* COptionSet::Value(const std::string& names, Taker take, const std::string& valueName,
                               const std::string& help) {
    // The callback names its option, which exists only once it is declared.
    auto declared = std::make_shared<const CLI::Option*>(nullptr);
    CLI::callback_t takeValues = [this, declared, take = std::move(take)](const CLI::results_t& values) {
        const std::string name = CHelpLayout::Name(**declared);
        for (const std::string& value : values) {
            std::string refusal = value.empty() ? FillWords(words_.emptyValue, name) : take(value);
            if (!refusal.empty()) throw CLI::ValidationError(name, refusal);
        }
        return true;
    };
    CLI::Option* option = app_.add_option(names, takeValues, help);
    *declared = option;
    // One word per value, so "--port a b" leaves "b" over; given again, the last value counts.
    option->expected(1)->take_last()->allow_extra_args(false)->type_name(valueName)->group(group_);
    return option;
}

CLI::Option* COptionSet::Value(const std::string& names, std::string& into, const std::string& valueName,
                               const std::string& help) {
    return Value(names, [&into](const std::string& value) {
        into = value;
        return std::string();
    }, valueName, help);
}

CLI::Option* COptionSet::Number(const std::string& names, int64_t& into, int64_t low, int64_t high,
                                std::function<std::string(const std::string&)> refusal,
                                const std::string& valueName, const std::string& help) {
    return Value(names, [&into, low, high, refusal = std::move(refusal)](const std::string& text) {
        int64_t value = 0;
        if (!IsDecimal(text, value) || value < low || value > high) return refusal(text);
        into = value;
        return std::string();
    }, valueName, help);
}

CLI::Option* COptionSet::Values(const std::string& names, std::vector<std::string>& into,
                                const std::string& valueName, const std::string& help) {
    // Every value reaches the callback, in the order given.
    return Value(names, [&into](const std::string& value) {
        into.push_back(value);
        return std::string();
    }, valueName, help)->take_all();
}

CLI::Option* COptionSet::Flag(const std::string& names, bool& into, const std::string& help) {
    return app_.add_flag(names, into, help)->disable_flag_override()->group(group_);
}

CLI::Option* COptionSet::Flag(const std::string& names, const std::string& help) {
    return app_.add_flag(names, help)->disable_flag_override()->group(group_);
}

void COptionSet::Group(const std::string& heading) { group_ = heading.empty() ? CHelpLayout::kUnlisted : heading; }

void COptionSet::Footer(const std::string& text) { app_.footer(text); }

bool COptionSet::Refuses(const std::string& word) const {
    return others_ == Others::Refuse || word.rfind("--", 0) == 0;
}

std::string COptionSet::Parse(const std::vector<std::string>& args) {
    // CLI11 takes the words last first.
    std::vector<std::string> words(args.rbegin(), args.rend());
    try {
        app_.parse(words);
        RefuseInlineValues(args);
        const std::vector<std::string> left = app_.remaining();
        if (std::any_of(left.begin(), left.end(), [this](const std::string& word) { return Refuses(word); }))
            throw CLI::ExtrasError(left);
    } catch (const CLI::ParseError& error) {
        std::ostringstream out, refusal;
        app_.exit(error, out, refusal);
        return refusal.str();
    }
    return {};
}

void COptionSet::RefuseInlineValues(const std::vector<std::string>& args) const {
    for (const std::string& word : args) {
        const size_t equals = word.find('=');
        if (word.rfind("--", 0) != 0 || equals == std::string::npos) continue;
        const CLI::Option* option = app_.get_option_no_throw(word.substr(0, equals));
        const bool isFlag = option != nullptr && option->get_expected_max() == 0;
        const bool emptyValue = option != nullptr && !isFlag && equals + 1 == word.size();
        if (!isFlag && !emptyValue) continue;
        // The same word may also stand as an option's value ("--link --quiet=1"); only the others
        // were taken as the option itself.
        size_t asValue = 0;
        for (const CLI::Option* other : app_.get_options())
            asValue += static_cast<size_t>(std::count(other->results().begin(), other->results().end(), word));
        if (static_cast<size_t>(std::count(args.begin(), args.end(), word)) <= asValue) continue;
        if (isFlag) throw CLI::ArgumentMismatch::FlagOverride(word.substr(2, equals - 2));
        const std::string name = CHelpLayout::Name(*option);
        throw CLI::ValidationError(name, FillWords(words_.emptyValue, name));
    }
}

std::string COptionSet::FailureText(const CLI::App& app, const CLI::Error& error) const {
    const std::string kind = error.get_name();
    const std::string message = error.what();
    if (kind == "ExtrasError") {
        for (const std::string& word : app.remaining())
            if (Refuses(word)) return FillWords(words_.unknown, word);
    }
    if (const CLI::Option* option = OptionOfError(app, message)) {
        if (kind == "ArgumentMismatch")
            return FillWords(option->get_expected_max() == 0 ? words_.takesNoValue : words_.needsValue,
                             CHelpLayout::Name(*option));
        // Thrown by Value with the whole refusal after the name.
        const std::string prefix = CHelpLayout::Name(*option) + ": ";
        if (kind == "ValidationError" && message.rfind(prefix, 0) == 0) return message.substr(prefix.size());
    }
    return FillWords(words_.other, message);
}

const CLI::Option* COptionSet::LastGiven(std::initializer_list<const CLI::Option*> among) const {
    const std::vector<CLI::Option*>& order = app_.parse_order();
    for (auto it = order.rbegin(); it != order.rend(); ++it)
        if (std::find(among.begin(), among.end(), *it) != among.end()) return *it;
    return nullptr;
}

std::string COptionSet::Help() const { return app_.help(); }
