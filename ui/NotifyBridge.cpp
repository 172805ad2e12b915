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
    // All guarded by NotifyBridgeState::mutex.
    uint32_t message = 0;
    NotifyWParam wParam = 0;
    NotifyLParam lParam = 0;
    intptr_t result = 0;
    bool finished = false;
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
        // The event was built on the sending thread and published under this mutex; reading it
        // (its type included) under the same mutex keeps that ordering visible to race checkers.
        std::unique_lock lock(shared_->mutex);
        if (e->type() != kCallEvent) {
            lock.unlock();
            return QObject::event(e);
        }
        auto& call = static_cast<CallEvent*>(e)->call_;
        const uint32_t message = call->message;
        const NotifyWParam wParam = call->wParam;
        const NotifyLParam lParam = call->lParam;
        lock.unlock();
        intptr_t result = 0;
        if (!shared_->closed.load()) result = shared_->handler(message, wParam, lParam);
        lock.lock();
        call->result = result;
        call->finished = true;
        lock.unlock();
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
    auto* event = new CallEvent(call);
    {
        // Published under our own mutex: the hand-over through Qt's event queue is then ordered for
        // race checkers too, which don't see inside Qt's locks.
        std::lock_guard lock(shared->mutex);
        call->message = message;
        call->wParam = wParam;
        call->lParam = lParam;
    }
    QCoreApplication::postEvent(receiver_.get(), event);
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
