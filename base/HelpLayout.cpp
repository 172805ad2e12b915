#include "base/HelpLayout.h"

#include <algorithm>
#include <vector>

namespace {

constexpr size_t kWidth = 100;

// Columns a UTF-8 text takes on a terminal: one per character, not per byte.
size_t Columns(const std::string& text) {
    return static_cast<size_t>(std::count_if(text.begin(), text.end(), [](char c) { return (c & 0xC0) != 0x80; }));
}

std::string UsageLine(const std::string& lead, const std::vector<const CLI::Option*>& options) {
    std::string text = lead;
    size_t column = Columns(lead);
    const std::string indent(column, ' ');
    for (const CLI::Option* option : options) {
        std::string word = "[" + CHelpLayout::Name(*option);
        if (!option->get_type_name().empty()) word += " " + option->get_type_name();
        word += "]";
        if (option->get_multi_option_policy() == CLI::MultiOptionPolicy::TakeAll && option->get_expected_max() != 0)
            word += "...";
        if (column + 1 + Columns(word) > kWidth && column > indent.size()) {
            text += "\n" + indent;
            column = indent.size();
        }
        text += " " + word;
        column += 1 + Columns(word);
    }
    return text + "\n";
}

// The option's help, its later lines moved under `column`.
std::string Indented(const std::string& help, size_t column) {
    std::string text;
    for (char c : help) {
        text += c;
        if (c == '\n') text += std::string(column, ' ');
    }
    return text;
}

}  // namespace

std::string CHelpLayout::Name(const CLI::Option& option) {
    if (!option.get_lnames().empty()) return "--" + option.get_lnames().front();
    return option.get_snames().empty() ? option.get_name() : "-" + option.get_snames().front();
}

std::string CHelpLayout::Signature(const CLI::Option& option) {
    std::string text;
    for (const std::string& name : option.get_lnames()) text += (text.empty() ? "--" : ", --") + name;
    for (const std::string& name : option.get_snames()) text += (text.empty() ? "-" : ", -") + name;
    if (!option.get_type_name().empty()) text += " " + option.get_type_name();
    return text;
}

std::string CHelpLayout::make_help(const CLI::App* app, std::string name, CLI::AppFormatMode) const {
    const std::vector<const CLI::Option*> shown =
        app->get_options([](const CLI::Option* option) { return option->get_group() != kUnlisted; });
    std::string text;
    if (!app->get_description().empty()) text += app->get_description() + "\n\n";
    text += UsageLine(usageWord_ + " " + (name.empty() ? app->get_name() : name), shown);

    size_t column = 0;
    for (const CLI::Option* option : shown) column = std::max(column, Columns(Signature(*option)));
    column += 4;  // two before the names, two after the longest
    std::vector<std::string> groups;
    for (const CLI::Option* option : shown)
        if (std::find(groups.begin(), groups.end(), option->get_group()) == groups.end())
            groups.push_back(option->get_group());
    for (const std::string& group : groups) {
        text += "\n" + group + ":\n";
        for (const CLI::Option* option : shown) {
            if (option->get_group() != group) continue;
            const std::string signature = "  " + Signature(*option);
            text += signature + std::string(column - Columns(signature), ' ') +
                    Indented(option->get_description(), column) + "\n";
        }
    }
    if (!app->get_footer().empty()) text += "\n" + app->get_footer();
    return text;
}
