// The words a program's command line speaks to its user: the help's headings and the refusals. "{}"
// stands for the option's name (or the word refused). The defaults are the Russian of iap-cli and
// iap-tool; a program whose users read another language passes its own.
#pragma once

#include <string>

struct OptionWords {
    std::string usage = "Вызов:";
    std::string options = "Параметры";  // the heading of the options declared before any group
    std::string unknown = "неизвестный параметр: {}";
    std::string needsValue = "параметру {} нужно значение";
    std::string emptyValue = "у параметра {} пустое значение";
    std::string takesNoValue = "параметр {} не принимает значения";
    std::string other = "ошибка в параметрах: {}";  // a refusal of another kind, in CLI11's own words
};

// `pattern` with its "{}" replaced by `word`.
std::string FillWords(const std::string& pattern, const std::string& word);
