#include "app/common/OptionParser.h"

#include <filesystem>
#include <utility>

COptionParser& COptionParser::Flag(std::string name, std::function<void()> set) {
    options_.push_back({std::move(name), false, [set = std::move(set)](const std::string&) {
                            set();
                            return std::string();
                        }});
    return *this;
}

COptionParser& COptionParser::Flag(std::string name, bool& into) {
    return Flag(std::move(name), [&into] { into = true; });
}

COptionParser& COptionParser::Value(std::string name, ValueReader read) {
    options_.push_back({std::move(name), true, std::move(read)});
    return *this;
}

COptionParser& COptionParser::Value(std::string name, std::string& into) {
    return Value(std::move(name), [&into](const std::string& value) {
        into = value;
        return std::string();
    });
}

COptionParser& COptionParser::Values(std::string name, std::vector<std::string>& into) {
    return Value(std::move(name), [&into](const std::string& value) {
        into.push_back(value);
        return std::string();
    });
}

std::string COptionParser::Parse(const std::vector<std::string>& args) const {
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const Option* option = nullptr;
        for (const Option& candidate : options_)
            if (candidate.name == arg) option = &candidate;
        if (option == nullptr) {
            if (others_ == Others::Skip && arg.rfind("--", 0) != 0) continue;
            return "неизвестный параметр: " + arg;
        }
        std::string value;
        if (option->takesValue) {
            if (i + 1 >= args.size()) return "параметру " + arg + " нужно значение";
            value = args[++i];
            if (value.empty()) return "у параметра " + arg + " пустое значение";
        }
        if (std::string error = option->read(value); !error.empty()) return error;
    }
    return {};
}

void AddCommonOptions(COptionParser& parser, std::vector<std::string>& ports, std::string& folder,
                      std::function<void()> help) {
    parser.Values("--port", ports).Value("--folder", folder).Flag("--help", help).Flag("-h", help);
}

std::string WithSeparator(const std::string& folder) {
    constexpr char kNative = static_cast<char>(std::filesystem::path::preferred_separator);
    if (folder.empty() || folder.back() == '/' || folder.back() == kNative) return folder;
    // "C:\Обновление" reads better as "C:\Обновление\" than with a '/' at its end.
    const bool native = kNative != '/' && folder.find(kNative) != std::string::npos && folder.find('/') == std::string::npos;
    return folder + (native ? kNative : '/');
}
