#include "ui/FolderMemory.h"

#include <QFileInfo>
#include <QSettings>
#include <QString>

namespace {

constexpr const char* kFolderKey = "updateFolder";

QSettings UserSettings() {
    return QSettings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("IAP Tool"), QStringLiteral("iap-tool"));
}

}  // namespace

std::wstring RememberedFolder() {
    const QString folder = UserSettings().value(QLatin1String(kFolderKey)).toString();
    if (folder.isEmpty() || !QFileInfo(folder).isDir()) return {};
    return folder.toStdWString();
}

void RememberFolder(const std::wstring& folder) {
    QSettings settings = UserSettings();
    settings.setValue(QLatin1String(kFolderKey), QString::fromStdWString(folder));
    settings.sync();
}
