#include "app/common/FolderName.h"

#include <filesystem>

std::string WithSeparator(const std::string& folder) {
    constexpr char kNative = static_cast<char>(std::filesystem::path::preferred_separator);
    if (folder.empty() || folder.back() == '/' || folder.back() == kNative) return folder;
    // "C:\Обновление" reads better as "C:\Обновление\" than with a '/' at its end.
    const bool native = kNative != '/' && folder.find(kNative) != std::string::npos && folder.find('/') == std::string::npos;
    return folder + (native ? kNative : '/');
}
