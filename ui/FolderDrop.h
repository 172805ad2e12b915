// Drops on a window: a folder, or any file in a folder, dropped there names that folder. Installed as
// an event filter on the window's widget, which it makes accept drops. UI thread only.
#pragma once

#include <QObject>

#include <functional>
#include <string>

class QWidget;

class CFolderDrop final : public QObject {
public:
    // `dropped` gets the folder of what was dropped.
    CFolderDrop(QWidget* target, std::function<void(const std::wstring& folder)> dropped);
    bool eventFilter(QObject* watched, QEvent* event) override;

    // The folder a dropped local path stands for: itself when it is a folder, else the folder it is
    // in; empty for a path that is not there.
    static std::wstring FolderOf(const QString& localPath);

private:
    std::function<void(const std::wstring&)> dropped_;
};
