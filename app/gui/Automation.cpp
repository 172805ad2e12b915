#include "app/gui/AutomationCommands.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QPixmap>
#include <QStringList>
#include <QTimer>
#include <QUrl>
#include <QWidget>

#include <cstdio>
#include <string>

#include "ui/ControlUI.h"
#include "ui/WindowImplBase.h"

void AutomationAnswer(const std::string& line) {
    const std::string text = "@@ " + line + "\n";
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
}

namespace {

// As the user would: a window may ask first (closing during a run).
void CloseAllWindows() {
    for (QWidget* top : QApplication::topLevelWidgets()) {
        if (top->isWindow() && top->parentWidget() == nullptr) WindowImplBase::CloseTopLevel(top);
    }
}

}  // namespace

void AutomationInputEnded() {
    // Nobody is left to answer a question such as "close during the run?".
    WindowImplBase::ForceClosing();
    CloseAllWindows();
}

namespace {

QWidget* FindShown(const QString& name) {
    for (QWidget* top : QApplication::topLevelWidgets()) {
        if (!top->isVisible()) continue;
        if (top->objectName() == name) return top;
        if (QWidget* found = top->findChild<QWidget*>(name)) return found;
    }
    return nullptr;
}

QWidget* ShownWindow() {
    if (QWidget* active = QApplication::activeWindow(); active != nullptr && active->isVisible()) return active;
    for (QWidget* top : QApplication::topLevelWidgets()) {
        if (top->isVisible() && top->isWindow() && top->parentWidget() == nullptr) return top;
    }
    return nullptr;
}

std::string Escaped(const std::wstring& text) {
    std::string out;
    for (const char c : QString::fromStdWString(text).toStdString()) {
        if (c == '\n') out += "\\n";
        else if (c == '\r') out += "\\r";
        else out += c;
    }
    return out;
}

}  // namespace

void RunAutomationCommand(const QString& line) {
    const QStringList words = line.trimmed().split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (words.isEmpty()) return;
    const QString& command = words[0];
    if (command == "quit") {
        AutomationAnswer("ok");
        QTimer::singleShot(0, &CloseAllWindows);
        return;
    }
    if (command == "grab" && words.size() == 2) {
        QWidget* window = ShownWindow();
        AutomationAnswer(window != nullptr && window->grab().save(words[1], "PNG") ? "ok" : "failed");
        return;
    }
    if (command == "drop" && words.size() >= 2) {
        // The rest of the line is the path, spaces and all.
        const QString path = line.trimmed().mid(command.size()).trimmed();
        QWidget* window = ShownWindow();
        if (window == nullptr) return AutomationAnswer("missing");
        QMimeData data;
        data.setUrls({QUrl::fromLocalFile(path)});
        const QPoint centre = window->rect().center();
        QDragEnterEvent enter(centre, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(window, &enter);
        if (!enter.isAccepted()) return AutomationAnswer("refused");
        QDropEvent drop(QPointF(centre), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(window, &drop);
        return AutomationAnswer(drop.isAccepted() ? "ok" : "refused");
    }
    if (words.size() < 2) {
        AutomationAnswer("unknown command");
        return;
    }
    QWidget* widget = FindShown(words[1]);
    if (widget == nullptr) {
        AutomationAnswer("missing");
        return;
    }
    if (command == "click") {
        auto* button = qobject_cast<QAbstractButton*>(widget);
        if (button == nullptr) return AutomationAnswer("not a button");
        if (!button->isEnabled()) return AutomationAnswer("disabled");
        AutomationAnswer("ok");
        QTimer::singleShot(0, button, [button] { button->click(); });
    } else if (command == "select" && words.size() == 3) {
        bool ok = false;
        const int index = words[2].toInt(&ok);
        CControlUI combo(widget);
        if (!ok || !combo.SelectItem(index)) return AutomationAnswer("bad index");
        AutomationAnswer("ok");
    } else if (command == "get") {
        const CControlUI control(widget);
        AutomationAnswer("get " + words[1].toStdString() +
                         " class=" + QString::fromStdWString(control.GetClass()).toStdString() +
                         " enabled=" + (widget->isEnabled() ? "1" : "0") + " selected=" + (control.IsSelected() ? "1" : "0") +
                         " cursel=" + std::to_string(control.GetCurSel()) + " value=" + std::to_string(control.GetValue()) +
                         " text=" + Escaped(control.GetText()));
    } else {
        AutomationAnswer("unknown command");
    }
}
