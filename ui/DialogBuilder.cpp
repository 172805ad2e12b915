#include "ui/DialogBuilder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUiLoader>
#include <QWidget>
#include <QXmlStreamReader>

#include "base/DisplayPath.h"
#include "ui/PaintManagerUI.h"

namespace {

// Qt's loader with the skin library's rule for unknown classes: they are the window's to build.
class SkinLoader final : public QUiLoader {
public:
    explicit SkinLoader(IDialogBuilderCallback* callback) : callback_(callback), known_(availableWidgets()) {}

    QWidget* createWidget(const QString& className, QWidget* parent, const QString& name) override {
        if (known_.contains(className)) return QUiLoader::createWidget(className, parent, name);
        QWidget* custom = callback_ != nullptr ? callback_->CreateControl(className.toStdWString()) : nullptr;
        if (custom == nullptr) return nullptr;
        if (parent != nullptr) custom->setParent(parent);
        if (!name.isEmpty() && custom->objectName().isEmpty()) custom->setObjectName(name);
        return custom;
    }

private:
    IDialogBuilderCallback* callback_;
    QStringList known_;
};

}  // namespace

std::wstring CDialogBuilder::SkinPath(const std::wstring& skinFile) {
    const QString file = QString::fromStdWString(skinFile);
    if (QDir::isAbsolutePath(file)) return skinFile;
    return CPaintManagerUI::GetResourcePath() + skinFile;
}

std::wstring CDialogBuilder::CheckSkinXml(const std::wstring& path) {
    const QString qpath = QString::fromStdWString(path);
    QFile file(qpath);
    if (!file.open(QIODevice::ReadOnly)) return L"файл оформления " + DisplayPath(path) + L" не открывается: " + file.errorString().toStdWString();
    QXmlStreamReader xml(&file);
    while (!xml.atEnd()) xml.readNext();
    if (xml.hasError()) {
        return L"файл оформления " + DisplayPath(path) + L" — не XML (строка " + std::to_wstring(xml.lineNumber()) + L", позиция " +
               std::to_wstring(xml.columnNumber()) + L"): " + xml.errorString().toStdWString();
    }
    return {};
}

QWidget* CDialogBuilder::Create(const std::wstring& skinFile, IDialogBuilderCallback* callback, QWidget* parent) {
    lastError_.clear();
    const std::wstring path = SkinPath(skinFile);
    // Qt's form reader reports some malformed files only as warnings and builds half a tree; check the
    // XML first so a broken skin is always a clear error.
    lastError_ = CheckSkinXml(path);
    if (!lastError_.empty()) return nullptr;
    QFile file(QString::fromStdWString(path));
    if (!file.open(QIODevice::ReadOnly)) {
        lastError_ = L"файл оформления " + DisplayPath(path) + L" не открывается: " + file.errorString().toStdWString();
        return nullptr;
    }
    SkinLoader loader(callback);
    loader.setWorkingDirectory(QFileInfo(file).absoluteDir());
    QWidget* root = loader.load(&file, parent);
    if (root == nullptr) {
        lastError_ = L"окно из файла оформления " + DisplayPath(path) + L" не строится: " + loader.errorString().toStdWString();
        return nullptr;
    }
    return root;
}
