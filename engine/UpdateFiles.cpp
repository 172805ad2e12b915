#include "engine/UpdateFiles.h"

#include <filesystem>
#include <system_error>

#include "engine/ImageReader.h"
#include "base/Text.h"
#include "base/Trace.h"
#include "engine/Work_BK.h"
#include "files/Utf8Path.h"

UpdateFileCheck CheckUpdateFile(const std::string& folder, const ImageRow& image) {
    UpdateFileCheck check;
    check.image = &image;
    check.name = WideToUtf8(image.fileName);
    check.path = folder + check.name;
    std::error_code ec;
    const std::filesystem::path path = PathFromUtf8(check.path);
    if (std::filesystem::is_regular_file(path, ec)) {
        const auto bytes = std::filesystem::file_size(path, ec);
        if (!ec) check.bytes = static_cast<long long>(bytes);
    }

    CImageReader reader(image.reader);
    reader.Load(Utf8ToWide(check.path).c_str());
    check.status = reader.LoadStatus();
    check.plan = PlanImage(image, reader);
    if (const CFile_Project* hex = reader.Hex()) {
        check.records = hex->GetPacketCount();
        check.version = hex->GetHexVer();
    }
    return check;
}

std::vector<UpdateFileCheck> CheckUpdateFiles(const std::string& folder) {
    std::vector<UpdateFileCheck> checks;
    for (const ImageRow& image : ImageRows()) checks.push_back(CheckUpdateFile(folder, image));
    return checks;
}

std::wstring UpdateFileNames() {
    std::wstring names;
    for (const ImageRow& image : ImageRows()) names += (names.empty() ? L"" : L", ") + std::wstring(image.fileName);
    return names;
}
