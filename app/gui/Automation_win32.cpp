#include "app/gui/Automation.h"

#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <QCoreApplication>
#include <QMetaObject>
#include <QObject>
#include <QString>

#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "app/gui/AutomationCommands.h"

// Qt cannot watch standard input on Windows (a pipe or console handle is no socket), so a thread
// blocks in ReadFile and posts each line to the UI thread, where every command runs as on POSIX.
namespace {

// Shared by the reader thread and the UI thread. The thread posts only while `target` lives: its
// destructor clears it under the mutex before QObject's own destructor drops the posted events.
struct Channel {
    std::mutex mutex;
    QObject* target = nullptr;  // guarded by mutex
};

class CChannelTarget : public QObject {
public:
    CChannelTarget(std::shared_ptr<Channel> channel, QObject* parent) : QObject(parent), channel_(std::move(channel)) {
        std::lock_guard<std::mutex> lock(channel_->mutex);
        channel_->target = this;
    }
    ~CChannelTarget() override {
        std::lock_guard<std::mutex> lock(channel_->mutex);
        channel_->target = nullptr;
    }

private:
    std::shared_ptr<Channel> channel_;
};

void Post(Channel& channel, std::function<void()> job) {
    std::lock_guard<std::mutex> lock(channel.mutex);
    if (channel.target != nullptr) QMetaObject::invokeMethod(channel.target, std::move(job), Qt::QueuedConnection);
}

void ReadCommands(std::shared_ptr<Channel> channel, HANDLE input) {
    std::string pending;
    char chunk[1024];
    for (;;) {
        DWORD n = 0;
        // A broken pipe or a closed console both end the input.
        if (!ReadFile(input, chunk, sizeof chunk, &n, nullptr) || n == 0) break;
        pending.append(chunk, n);
        size_t end;
        while ((end = pending.find('\n')) != std::string::npos) {
            const QString line = QString::fromUtf8(pending.data(), static_cast<qsizetype>(end));
            pending.erase(0, end + 1);
            Post(*channel, [line] { RunAutomationCommand(line); });
        }
    }
    Post(*channel, &AutomationInputEnded);
}

}  // namespace

int StartAutomation() {
    const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    if (input == nullptr || input == INVALID_HANDLE_VALUE) return 0;
    // Answers end in "\n" as on POSIX, not in the text mode's "\r\n".
    std::fflush(stdout);
    _setmode(_fileno(stdout), _O_BINARY);

    auto channel = std::make_shared<Channel>();
    new CChannelTarget(channel, qApp);  // owned by the application object
    // Detached: it may stay blocked in ReadFile until the process ends, and it touches nothing but
    // the channel it shares.
    std::thread(ReadCommands, channel, input).detach();
    AutomationAnswer("ready");
    return 1;
}
