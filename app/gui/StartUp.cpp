#include "app/gui/StartUp.h"

#include <QDir>
#include <QFileInfo>

#include <cstdlib>

#include "base/DisplayPath.h"
#include "engine/UpdateSet.h"
#include "engine/VersionFile.h"
#include "base/Text.h"
#include "base/Trace.h"
#include "ui/DialogBuilder.h"
#include "ui/PaintManagerUI.h"
#include "ui/VersionStrings.h"

std::wstring CheckDisplay() {
#if defined(__linux__)
    for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"}) {
        const char* value = std::getenv(name);
        if (value != nullptr && value[0] != '\0') return {};
    }
    return L"нет экрана для окна (задайте DISPLAY или QT_QPA_PLATFORM=offscreen)";
#else
    return {};
#endif
}

std::wstring StartFolder(const std::wstring& optionFolder, const std::wstring& programFolder,
                         const std::wstring& rememberedFolder) {
    if (!optionFolder.empty()) return optionFolder;
    if (HoldsUpdateFiles(WideToUtf8(programFolder)) || rememberedFolder.empty()) return programFolder;
    return rememberedFolder;
}

int ReadVersionFile(const std::wstring& folder) {
    VersionLines lines;
    const int opened = ReadVersionLines(WideToUtf8(folder) + "ver.txt", lines);
    VerDeviceType = lines.lines[0];
    VerFileFirmware = lines.lines[1];
    VerFileData = lines.lines[2];
    VerFileRadar = lines.lines[3];
    return opened;
}

std::wstring CheckSkins() {
    const std::wstring folder = CPaintManagerUI::GetResourcePath();
    if (!QFileInfo(QString::fromStdWString(folder)).isDir()) return L"нет папки оформления " + DisplayPath(folder);
    const wchar_t* const skins[] = {L"frame_Update.xml", L"Frame_Set.xml", L"Frame_Set_Client_1.xml", L"Frame_Set_Client_2.xml"};
    for (const wchar_t* skin : skins) {
        const std::wstring path = CDialogBuilder::SkinPath(skin);
        const bool required = skin == skins[0];
        if (!required && !QFileInfo::exists(QString::fromStdWString(path))) continue;
        if (std::wstring fault = CDialogBuilder::CheckSkinXml(path); !fault.empty()) return fault;
    }
    return {};
}
