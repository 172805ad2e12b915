#include "base/DisplayPath.h"

#include <algorithm>
#include <filesystem>

namespace {

template <typename Text>
Text WithPreferredSeparators(Text path) {
    using Char = typename Text::value_type;
    constexpr auto kPreferred = std::filesystem::path::preferred_separator;
    // POSIX has one separator; a '\' there is part of a name and stays.
    if constexpr (kPreferred != '/') std::replace(path.begin(), path.end(), static_cast<Char>('/'), static_cast<Char>(kPreferred));
    return path;
}

}  // namespace

std::wstring DisplayPath(const std::wstring& path) { return WithPreferredSeparators(path); }

std::string DisplayPath(const std::string& utf8Path) { return WithPreferredSeparators(utf8Path); }
