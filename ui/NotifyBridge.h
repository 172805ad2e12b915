// CNotifyBridge: the handle the engine reports to. It hands each engine message to the UI thread and
// returns only after the handler ran there, as SendMessageW does.
//
// Threads: construct, Close and destroy on the UI thread (the thread of the owning window). Send may be
// called from any thread. On the UI thread itself the handler runs directly, so a message sent from a
// UI-thread call never deadlocks. From another thread the caller blocks until the UI thread's event
// loop ran the handler, or until Close: after Close every waiting and every later Send returns 0 at
// once without running the handler, so the UI thread may then stop engine threads that were blocked
// in Send without waiting for itself.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "engine/NotifyWindow.h"

class QObject;
struct NotifyBridgeState;

class CNotifyBridge final : public CNotifyWindow {
public:
    using Handler = std::function<intptr_t(uint32_t message, NotifyWParam wParam, NotifyLParam lParam)>;

    explicit CNotifyBridge(Handler handler);
    ~CNotifyBridge() override;
    CNotifyBridge(const CNotifyBridge&) = delete;
    CNotifyBridge& operator=(const CNotifyBridge&) = delete;

    intptr_t Send(uint32_t message, NotifyWParam wParam, NotifyLParam lParam) override;
    void Close();
    bool IsClosed() const;

private:
    std::shared_ptr<NotifyBridgeState> shared_;
    std::unique_ptr<QObject> receiver_;  // lives on the UI thread; posted calls run on it
};
