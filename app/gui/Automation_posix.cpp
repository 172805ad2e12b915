#include "app/gui/Automation.h"

#include <unistd.h>

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QString>
#include <QTimer>

#include <cerrno>
#include <memory>
#include <string>

#include "app/gui/AutomationCommands.h"

namespace {

void ReadCommands(QSocketNotifier* notifier, std::string& pending) {
    char chunk[1024];
    const ssize_t n = read(STDIN_FILENO, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) return;
    if (n <= 0) {
        notifier->setEnabled(false);
        QTimer::singleShot(0, &AutomationInputEnded);
        return;
    }
    pending.append(chunk, static_cast<size_t>(n));
    size_t end;
    while ((end = pending.find('\n')) != std::string::npos) {
        const std::string line = pending.substr(0, end);
        pending.erase(0, end + 1);
        RunAutomationCommand(QString::fromUtf8(line.data(), static_cast<qsizetype>(line.size())));
    }
}

}  // namespace

int StartAutomation() {
    // Owned by the application object, so it goes before Qt does.
    auto* notifier = new QSocketNotifier(STDIN_FILENO, QSocketNotifier::Read, qApp);
    auto pending = std::make_shared<std::string>();
    QObject::connect(notifier, &QSocketNotifier::activated, notifier, [notifier, pending] { ReadCommands(notifier, *pending); });
    AutomationAnswer("ready");
    return 1;
}
