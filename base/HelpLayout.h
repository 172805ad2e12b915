// The help of a program, laid out from its option declarations (CLI11's formatter hook):
//
//   <description>
//
//   Вызов: prog [--port PORT]... [--folder DIR] [--plain]
//
//   Параметры:
//     --port PORT     help of --port
//                     its second line
//     --help, -h      help of --help
//
//   <footer>
//
// The usage line names every shown option (a repeatable one with "...") and wraps at 100 columns. A
// line break in an option's help continues under its column. Options of the unlisted group are left
// out (test-only switches); the others are listed under their group's heading in the order declared.
#pragma once

#include <CLI/CLI.hpp>

#include <string>

class CHelpLayout : public CLI::Formatter {
public:
    // The group CLI11 would call hidden (""): CLI11 then forgets the option's name, which its refusals
    // of the option need.
    static constexpr const char* kUnlisted = "<unlisted>";

    explicit CHelpLayout(std::string usageWord) : usageWord_(std::move(usageWord)) {}

    std::string make_help(const CLI::App* app, std::string name, CLI::AppFormatMode mode) const override;

    // How the help shows an option: its long names, then its short ones, then the value's name.
    static std::string Signature(const CLI::Option& option);
    // The name the help and the refusals call an option by: its first long name, else its short one.
    static std::string Name(const CLI::Option& option);

private:
    std::string usageWord_;
};
