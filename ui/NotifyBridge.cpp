#include "ui/NotifyBridge.h"

#include <QCoreApplication>
#include <QEvent>
#include <QObject>
#include <QThread>

#include <atomic>
#include <condition_variable>
#include <mutex>

struct NotifyBridgeState {
    CNotifyBridge::Handler handler;
    std::atomic<bool> closed{false};
    std::mutex mutex;
    std::condition_variable done;
};

namespace {

// One posted message. The sender waits on its own `finished` flag, so a reply can't be mistaken for
// another call's, and a call that the UI thread never reaches is released by Close.
struct PendingCall {
    uint32_t message = 0;
    NotifyWParam wParam = 0;
    NotifyLParam lParam = 0;
    intptr_t result = 0;
    bool finished = false;  // guarded by NotifyBridgeState::mutex
};

const QEvent::Type kCallEvent = static_cast<QEvent::Type>(QEvent::registerEventType());

class CallEvent final : public QEvent {
public:
    explicit CallEvent(std::shared_ptr<PendingCall> call) : QEvent(kCallEvent), call_(std::move(call)) {}
    std::shared_ptr<PendingCall> call_;
};

class Receiver final : public QObject {
public:
    explicit Receiver(std::shared_ptr<NotifyBridgeState> shared) : shared_(std::move(shared)) {}

    bool event(QEvent* e) override {
        if (e->type() != kCallEvent) return QObject::event(e);
        auto& call = static_cast<CallEvent*>(e)->call_;
        intptr_t result = 0;
        if (!shared_->closed.load()) result = shared_->handler(call->message, call->wParam, call->lParam);
        {
            std::lock_guard lock(shared_->mutex);
            call->result = result;
            call->finished = true;
        }
        shared_->done.notify_all();
        return true;
    }

private:
    std::shared_ptr<NotifyBridgeState> shared_;
};

}  // namespace

CNotifyBridge::CNotifyBridge(Handler handler) : shared_(std::make_shared<NotifyBridgeState>()) {
    shared_->handler = std::move(handler);
    receiver_ = std::make_unique<Receiver>(shared_);
}

CNotifyBridge::~CNotifyBridge() { Close(); }

intptr_t CNotifyBridge::Send(uint32_t message, NotifyWParam wParam, NotifyLParam lParam) {
    const std::shared_ptr<NotifyBridgeState> shared = shared_;
    if (shared->closed.load()) return 0;
    if (QThread::currentThread() == receiver_->thread()) return shared->handler(message, wParam, lParam);

    auto call = std::make_shared<PendingCall>();
    call->message = message;
    call->wParam = wParam;
    call->lParam = lParam;
    QCoreApplication::postEvent(receiver_.get(), new CallEvent(call));
    std::unique_lock lock(shared->mutex);
    shared->done.wait(lock, [&] { return call->finished || shared->closed.load(); });
    return call->finished ? call->result : 0;
}

void CNotifyBridge::Close() {
    {
        // Taking the mutex orders the flag against a sender that is between its check and its wait.
        std::lock_guard lock(shared_->mutex);
        shared_->closed.store(true);
    }
    shared_->done.notify_all();
}

bool CNotifyBridge::IsClosed() const { return shared_->closed.load(); }
