#include "ui/ElidedPathLabel.h"

#include <QEvent>
#include <QFontMetrics>
#include <QLabel>

CElidedPathLabel::CElidedPathLabel(QLabel* label) : QObject(label), label_(label) { label->installEventFilter(this); }

void CElidedPathLabel::SetPath(const QString& path) {
    path_ = path;
    label_->setToolTip(path);
    Show();
}

bool CElidedPathLabel::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Resize) Show();
    return QObject::eventFilter(watched, event);
}

void CElidedPathLabel::Show() {
    const int width = label_->contentsRect().width();
    // Before the first layout the label has no width of its own yet: show the whole path until then.
    label_->setText(width <= 0 ? path_ : QFontMetrics(label_->font()).elidedText(path_, Qt::ElideMiddle, width));
}
