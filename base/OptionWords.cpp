#include "base/OptionWords.h"

std::string FillWords(const std::string& pattern, const std::string& word) {
    std::string text = pattern;
    if (const size_t at = text.find("{}"); at != std::string::npos) text.replace(at, 2, word);
    return text;
}
