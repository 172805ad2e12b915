#include "ui/FolderDrop.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QMimeData>
#include <QUrl>
#include <QWidget>

namespace {

QString FirstLocalPath(const QMimeData* data) {
    if (data == nullptr || !data->hasUrls()) return {};
    for (const QUrl& url : data->urls())
        if (url.isLocalFile()) return url.toLocalFile();
    return {};
}

}  // namespace

CFolderDrop::CFolderDrop(QWidget* target, std::function<void(const std::wstring&)> dropped)
    : QObject(target), dropped_(std::move(dropped)) {
    target->setAcceptDrops(true);
    target->installEventFilter(this);
}

std::wstring CFolderDrop::FolderOf(const QString& localPath) {
    const QFileInfo info(localPath);
    if (!info.exists()) return {};
    return (info.isDir() ? info.absoluteFilePath() : info.absolutePath()).toStdWString();
}

bool CFolderDrop::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::DragEnter || event->type() == QEvent::DragMove) {
        auto* drag = static_cast<QDragMoveEvent*>(event);
        if (!FirstLocalPath(drag->mimeData()).isEmpty()) {
            drag->acceptProposedAction();
            return true;
        }
    } else if (event->type() == QEvent::Drop) {
        auto* drop = static_cast<QDropEvent*>(event);
        const std::wstring folder = FolderOf(FirstLocalPath(drop->mimeData()));
        if (!folder.empty()) {
            drop->acceptProposedAction();
            if (dropped_) dropped_(folder);
            return true;
        }
    }
    return QObject::eventFilter(watched, event);
}
