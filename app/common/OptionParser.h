// The command-line parser both front ends use, so that an option they share follows one rule in both:
// "--name VALUE" takes the next argument as its value (missing or empty: an error naming the option),
// a flag takes none, an option given twice keeps the last value unless it collects (--port), and an
// unknown "--" option is an error. Arguments are UTF-8 text (on Windows converted from the wide
// command line, see CommandLine.h), so a folder named in Cyrillic arrives intact.
#pragma once

#include <functional>
#include <string>
#include <vector>

class COptionParser {
public:
    // What becomes of an argument that does not start with "--": iap-cli refuses it; iap-tool leaves
    // it to Qt ("-platform offscreen").
    enum class Others { Refuse, Skip };
    // Reads a value; returns an error text for the user, or "" when the value is taken.
    using ValueReader = std::function<std::string(const std::string& value)>;

    explicit COptionParser(Others others) : others_(others) {}

    // Each returns *this, so a front end declares its options one per line.
    COptionParser& Flag(std::string name, std::function<void()> set);
    COptionParser& Flag(std::string name, bool& into);
    COptionParser& Value(std::string name, ValueReader read);
    COptionParser& Value(std::string name, std::string& into);
    // A repeatable option: every value is appended, in the order given.
    COptionParser& Values(std::string name, std::vector<std::string>& into);

    // "" when every argument was taken; else the first error, for the user.
    std::string Parse(const std::vector<std::string>& args) const;

private:
    struct Option {
        std::string name;
        bool takesValue = false;
        ValueReader read;  // flags get an empty value
    };
    Others others_;
    std::vector<Option> options_;
};

// The options both front ends take, declared once:
//   --port PORT   repeatable; a device path on POSIX, a COM name ("COM20") on Windows
//   --folder DIR  the folder of the update files and ver.txt, as given (a Windows path may use '\')
//   --help, -h
void AddCommonOptions(COptionParser& parser, std::vector<std::string>& ports, std::string& folder,
                      std::function<void()> help);

// `folder` ending in a separator. One that ends in '/' or the platform's own separator ('\' on
// Windows) stays as it is, as does an empty one; else '/' is added, or '\' to a Windows path written
// with backslashes only.
std::string WithSeparator(const std::string& folder);
