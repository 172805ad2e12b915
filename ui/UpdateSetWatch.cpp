#include "ui/UpdateSetWatch.h"

#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QStringList>
#include <QTimer>

#include "engine/ImageTable.h"

CUpdateSetWatch::CUpdateSetWatch(std::function<void()> changed)
    : changed_(std::move(changed)), watcher_(std::make_unique<QFileSystemWatcher>()), settle_(std::make_unique<QTimer>()) {
    settle_->setSingleShot(true);
    settle_->setInterval(kSettleMs);
    QObject::connect(settle_.get(), &QTimer::timeout, settle_.get(), [this] {
        WatchPaths();
        if (changed_) changed_();
    });
    QObject::connect(watcher_.get(), &QFileSystemWatcher::directoryChanged, settle_.get(), [this] { OnChange(); });
    QObject::connect(watcher_.get(), &QFileSystemWatcher::fileChanged, settle_.get(), [this] { OnChange(); });
}

CUpdateSetWatch::~CUpdateSetWatch() = default;

void CUpdateSetWatch::Watch(const std::wstring& folder) {
    const QStringList old = watcher_->files() + watcher_->directories();
    if (!old.isEmpty()) watcher_->removePaths(old);
    folder_ = folder;
    WatchPaths();
}

void CUpdateSetWatch::OnChange() { settle_->start(); }

void CUpdateSetWatch::WatchPaths() {
    if (folder_.empty()) return;
    const QString folder = QString::fromStdWString(folder_);
    QStringList wanted;
    if (QFileInfo(folder).isDir()) wanted << folder;
    QStringList names{QStringLiteral("ver.txt")};
    for (const ImageRow& row : ImageRows()) names << QString::fromWCharArray(row.fileName);
    for (const QString& name : names) {
        const QString path = folder + name;
        if (QFileInfo::exists(path)) wanted << path;
    }
    // A replaced file is a new file: its old watch may point at what was removed, so the files are
    // watched afresh each time.
    if (!watcher_->files().isEmpty()) watcher_->removePaths(watcher_->files());
    QStringList added;
    for (const QString& path : wanted)
        if (!watcher_->directories().contains(path)) added << path;
    if (!added.isEmpty()) watcher_->addPaths(added);
}
