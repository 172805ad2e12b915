#include "app/gui/Automation.h"

#include <unistd.h>

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QPixmap>
#include <QSocketNotifier>
#include <QString>
#include <QTimer>
#include <QWidget>

#include <cerrno>
#include <cstdio>
#include <memory>
#include <string>

#include "ui/ControlUI.h"
#include "ui/WindowImplBase.h"

namespace {

void Answer(const std::string& line) {
    const std::string text = "@@ " + line + "\n";
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
}

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

void CloseAllWindows() {
    for (QWidget* top : QApplication::topLevelWidgets()) {
        if (top->isWindow() && top->parentWidget() == nullptr) top->close();
    }
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

void Run(const QString& line) {
    const QStringList words = line.trimmed().split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (words.isEmpty()) return;
    const QString& command = words[0];
    if (command == "quit") {
        Answer("ok");
        QTimer::singleShot(0, &CloseAllWindows);
        return;
    }
    if (command == "grab" && words.size() == 2) {
        QWidget* window = ShownWindow();
        Answer(window != nullptr && window->grab().save(words[1], "PNG") ? "ok" : "failed");
        return;
    }
    if (words.size() < 2) {
        Answer("unknown command");
        return;
    }
    QWidget* widget = FindShown(words[1]);
    if (widget == nullptr) {
        Answer("missing");
        return;
    }
    if (command == "click") {
        auto* button = qobject_cast<QAbstractButton*>(widget);
        if (button == nullptr) return Answer("not a button");
        if (!button->isEnabled()) return Answer("disabled");
        Answer("ok");
        QTimer::singleShot(0, button, [button] { button->click(); });
    } else if (command == "select" && words.size() == 3) {
        bool ok = false;
        const int index = words[2].toInt(&ok);
        CControlUI combo(widget);
        if (!ok || !combo.SelectItem(index)) return Answer("bad index");
        Answer("ok");
    } else if (command == "get") {
        const CControlUI control(widget);
        Answer("get " + words[1].toStdString() + " class=" + QString::fromStdWString(control.GetClass()).toStdString() +
               " enabled=" + (widget->isEnabled() ? "1" : "0") + " selected=" + (control.IsSelected() ? "1" : "0") +
               " cursel=" + std::to_string(control.GetCurSel()) + " value=" + std::to_string(control.GetValue()) +
               " text=" + Escaped(control.GetText()));
    } else {
        Answer("unknown command");
    }
}

void ReadCommands(QSocketNotifier* notifier, std::string& pending) {
    char chunk[1024];
    const ssize_t n = read(STDIN_FILENO, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) return;
    if (n <= 0) {
        notifier->setEnabled(false);
        // Nobody is left to answer a question such as "close during the run?".
        WindowImplBase::ForceClosing();
        QTimer::singleShot(0, &CloseAllWindows);
        return;
    }
    pending.append(chunk, static_cast<size_t>(n));
    size_t end;
    while ((end = pending.find('\n')) != std::string::npos) {
        const std::string line = pending.substr(0, end);
        pending.erase(0, end + 1);
        Run(QString::fromUtf8(line.data(), static_cast<qsizetype>(line.size())));
    }
}

}  // namespace

int StartAutomation() {
    // Owned by the application object, so it goes before Qt does.
    auto* notifier = new QSocketNotifier(STDIN_FILENO, QSocketNotifier::Read, qApp);
    auto pending = std::make_shared<std::string>();
    QObject::connect(notifier, &QSocketNotifier::activated, notifier, [notifier, pending] { ReadCommands(notifier, *pending); });
    Answer("ready");
    return 1;
}
