// A label that shows a path shortened in the middle to the width it has (the drive or home folder
// and the folder's own name stay), the whole path in its tool tip. It follows the label's resizes.
// Owned by the label. UI thread only.
#pragma once

#include <QObject>
#include <QString>

class QLabel;

class CElidedPathLabel final : public QObject {
public:
    explicit CElidedPathLabel(QLabel* label);
    void SetPath(const QString& path);
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Show();

    QLabel* label_;
    QString path_;
};
