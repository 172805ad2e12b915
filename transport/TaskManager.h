// CTaskManager<TTask, TOwner>: the command queue with its sender thread.
//
// Frames are sent strictly one at a time: the sender writes the frame at the head of the queue and
// waits until OnAnswer reports the head's command code; only then is the head removed and the next
// frame written. The device takes packets in order and carries no sequence numbers, so nothing is
// ever resent on a time-out: a head that gets no answer is reported once per `noAnswerSlices` wait
// slices through OnNoAnswer and the owner decides what to do. Heads for which IsNoWaitTask is true
// (the settings reads) are dropped after one silent slice instead.
//
// TTask is held by value and needs GetCmd(), GetFrameData(), GetFrameSize(), TryCount() and
// AttemptsMade() (CPacket_ISP has them). TOwner is the class deriving from this one; it is registered
// as Singleton<TOwner>.
//
// Threads:
// - AddTask, ClearTasks, OnAnswer and TaskCount may be called from any thread, including from inside
//   WriteFrame, SendTask and OnNoAnswer (the queue lock is re-entrant).
// - StartSender, RestartSender and StopSender are called by one controlling thread at a time. They may
//   also be called on the sender thread itself (from the owner's callbacks): that sender then ends
//   after the callback returns.
// - WriteFrame, SendTask and OnNoAnswer run on the sender thread. SendTask and OnNoAnswer are called
//   outside the queue lock; WriteFrame is also called under it when a dropped settings read is followed
//   by another frame, and on the thread calling OnAnswer, under the lock, for a next head for which
//   IsWrittenOnAnswer is true. Writes never overlap: OnAnswer leaves the head to the sender while the
//   sender is inside a write.
// - The owner's destructor must call StopSender() first: the sender calls the owner's operations, which
//   no longer exist once the owner part is destroyed. ~CTaskManager stops the sender as a last resort.
//
// Returns: 1 for success, 0 for failure (a lock that could not be taken). OnAnswer returns 1 only when
// the answer acknowledged the head.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>

#include "base/Trace.h"
#include "transport/AutoThread.h"
#include "transport/EventObject.h"
#include "transport/MuTexObject.h"
#include "transport/Singleton.h"
#include "transport/TickCount.h"

template <typename TTask, typename TOwner>
class CTaskManager : public CAutoThread, public CMuTexObject, public Singleton<TOwner> {
public:
    static constexpr uint32_t kStopWaitMs = 2000;
    static constexpr uint32_t kDefaultWaitSliceMs = 5000;
    static constexpr int kDefaultNoAnswerSlices = 3;

    CTaskManager() : CAutoThread(kStopWaitMs) {}
    ~CTaskManager() override { CTaskManager::StopSender(); }

    // Appends a copy; wakes the sender when the queue now holds exactly this one frame. While the
    // sender is stopped the frame stays queued unsent (the next start empties the queue).
    virtual int AddTask(const TTask& task) {
        CMuTexGuard guard(*this);
        if (!guard.Locked()) return 0;
        queue_.push_back(task);
        if (queue_.size() == 1) {
            HeadChanged();
            Wake();
        }
        return 1;
    }

    virtual int ClearTasks() {
        CMuTexGuard guard(*this);
        if (!guard.Locked()) return 0;
        ClearQueue();
        return 1;
    }

    // An answer acknowledges the head when its code equals the head's command byte and the head has
    // been written: a late or duplicated answer must not remove a frame the device has not seen yet
    // (several packets of one image share a command code, so the image would lose a packet).
    virtual int OnAnswer(int code) {
        CMuTexGuard guard(*this);
        if (!guard.Locked()) return 0;
        if (queue_.empty()) return 0;
        const int cmd = queue_.front().GetCmd();
        Trace(L"[CMD %02X %02X\r\n", static_cast<unsigned>(cmd), static_cast<unsigned>(code));
        if (cmd != code) return 0;
        if (!headWritten_) {
            Trace(L"[CTaskManager] answer %02X before its frame was written; ignored\r\n",
                  static_cast<unsigned>(code));
            return 0;
        }
        PopHead();
        if (queue_.empty()) return 1;
        // On a stop-and-wait line every hand-over to the sender is a thread wake-up per frame, a
        // good part of the gap between an answer and the next frame; plain frames go out from here.
        // Never while the sender is inside a write of its own: the port has one writer at a time.
        // TryCount last: it counts the attempt, as the sender does when it writes a head.
        if (link_ && !senderWriting_ && IsWrittenOnAnswer(queue_.front()) && queue_.front().TryCount() != 0) {
            // A copy: the answer to it may come back on another thread while it is being written.
            const TTask next = queue_.front();
            headWritten_ = true;
            TraceSend(static_cast<int>(queue_.size()));
            WriteFrame(next.GetFrameData(), next.GetFrameSize());
        } else {
            Wake();
        }
        return 1;
    }

    // The hard restart: ends the sender, empties the queue and starts a new sender. A thread cannot
    // be killed safely here, and an abandoned one would go on using this object, so the sender is
    // told to stop and woken, and ends at once unless it is inside a write (then within the stop wait).
    virtual int StartSender() {
        {
            CMuTexGuard guard(*this);
            if (!guard.Locked()) return 0;
            DetachLink();
        }
        Stop();
        return LaunchSender();
    }

    // Stops the sender within the stop wait, then starts a new one on an empty queue.
    virtual int RestartSender() {
        if (!StopSender()) return 0;
        return LaunchSender();
    }

    // Stops the sender and empties the queue. The sender is told to stop before it is woken, so a
    // sender woken by the stop writes nothing more. Frames queued afterwards stay unsent.
    virtual int StopSender() {
        {
            CMuTexGuard guard(*this);
            if (!guard.Locked()) return 0;
            DetachLink();
        }
        Stop();
        CMuTexGuard guard(*this);
        if (!guard.Locked()) return 0;
        ClearQueue();
        return 1;
    }

    // Writes one frame to the line. May call OnAnswer / AddTask (for commands the device never answers).
    virtual int WriteFrame(const uint8_t* bytes, int length) = 0;
    // Sends a copy of the head; attemptsBefore is how often it was sent before. The result is not used.
    virtual int SendTask(const TTask& task, int attemptsBefore) = 0;
    // True for heads that are dropped, not waited for, when a wait slice passes without their answer.
    virtual bool IsNoWaitTask(const TTask& task) = 0;
    // True for heads that OnAnswer may write at once, on the answering thread, when the head before
    // them is acknowledged. Only for frames whose WriteFrame is a plain write: it runs under the
    // queue lock there, so it must not wait for the line or acknowledge anything itself.
    virtual bool IsWrittenOnAnswer(const TTask& /*task*/) { return false; }
    // The head (a copy) has gone `noAnswerSlices` wait slices without an answer. Called once per such
    // run of slices, on the sender thread, outside the lock; nothing has been resent. The owner may
    // clear the queue or stop the sender from here.
    virtual void OnNoAnswer(const TTask& head) = 0;

    // Settings for tests and expert options; set before the sender starts. A slice count of 0 or less
    // never reports (the head is waited for without limit).
    void SetWaitSliceMs(uint32_t ms) { waitSliceMs_.store(ms); }
    void SetNoAnswerSlices(int slices) { noAnswerSlices_.store(slices); }
    uint32_t WaitSliceMs() const { return waitSliceMs_.load(); }
    int NoAnswerSlices() const { return noAnswerSlices_.load(); }

    // Command byte of the frame at the head, or 0 when the queue is empty (or the lock failed).
    int HeadCommand() const {
        auto* self = const_cast<CTaskManager*>(this);
        CMuTexGuard guard(*self);
        if (!guard.Locked() || queue_.empty()) return 0;
        return queue_.front().GetCmd();
    }

    // Command byte of the head once it has been written (the command the device is answering now),
    // or 0 when nothing is in flight: the queue is empty, or its head still waits for the sender.
    int HeadInFlight() const {
        auto* self = const_cast<CTaskManager*>(this);
        CMuTexGuard guard(*self);
        if (!guard.Locked() || queue_.empty() || !headWritten_) return 0;
        return queue_.front().GetCmd();
    }

    // Removes the head alone, when its command byte is `cmd`, and lets the sender write the frame
    // after it. 1 when a head was removed.
    int DropHead(int cmd) {
        CMuTexGuard guard(*this);
        if (!guard.Locked() || queue_.empty() || queue_.front().GetCmd() != cmd) return 0;
        PopHead();
        if (!queue_.empty()) Wake();
        return 1;
    }

    // Number of queued frames (the head included), read under the lock; 0 if the lock failed.
    int TaskCount() const {
        auto* self = const_cast<CTaskManager*>(this);
        CMuTexGuard guard(*self);
        if (!guard.Locked()) return 0;
        return static_cast<int>(queue_.size());
    }

protected:
    int Run() override {
        std::shared_ptr<SenderLink> link;
        {
            CMuTexGuard guard(*this);
            if (!guard.Locked()) return 0;
            link = link_;
        }
        if (!link) return 0;
        SilenceCount silence;
        while (!IsStopping() && !link->stop.load()) {
            const WaitResult woke = link->wake.Wait(waitSliceMs_.load());
            if (IsStopping() || link->stop.load()) break;
            if (woke == WaitResult::Timeout) {
                std::optional<TTask> silent = SliceWithoutAnswer(silence);
                if (silent) OnNoAnswer(*silent);
            } else {
                silence.slices = 0;
                SendHead();
            }
        }
        return 0;
    }

private:
    // What one sender thread shares with its controller. Each started sender has its own, so a sender
    // that was abandoned after the stop wait still waits on a live event and still sees its own stop
    // request after a new sender has started.
    struct SenderLink {
        SenderLink() { wake.Create(nullptr, false, false); }
        CEventObject wake;
        std::atomic<bool> stop{false};
    };

    struct SilenceCount {
        int slices = 0;
        uint64_t head = 0;  // headId_ of the head the slices were counted for
    };

    // Caller holds the lock.
    void Wake() {
        if (link_) link_->wake.Set();
    }
    void HeadChanged() {
        ++headId_;
        headWritten_ = false;
    }
    void PopHead() {
        queue_.pop_front();
        HeadChanged();
    }
    void ClearQueue() {
        queue_.clear();
        HeadChanged();
    }
    void DetachLink() {
        if (!link_) return;
        link_->stop.store(true);
        link_->wake.Set();
        link_.reset();
    }

    int LaunchSender() {
        {
            CMuTexGuard guard(*this);
            if (!guard.Locked()) return 0;
            // Emptied together with the new event, so a frame queued meanwhile by another thread
            // cannot sit unsignalled at the head of the new sender's queue.
            ClearQueue();
            link_ = std::make_shared<SenderLink>();
        }
        if (!Start()) {
            CMuTexGuard guard(*this);
            if (guard.Locked()) link_.reset();
            Trace(L"[CTaskManager] the sender thread could not be started\r\n");
            return 0;
        }
        Trace(L"[CTaskManager]Thread:0x%x\r\n", GetThreadId());
        return 1;
    }

    // A wait slice passed without a wake-up. Returns the head to report when it has now gone the
    // configured number of slices without an answer.
    std::optional<TTask> SliceWithoutAnswer(SilenceCount& silence) {
        CMuTexGuard guard(*this);
        if (!guard.Locked()) return std::nullopt;
        if (queue_.empty()) return std::nullopt;  // the next head starts a new count (headId_)
        if (IsNoWaitTask(queue_.front())) {
            silence.slices = 0;
            PopHead();
            if (!queue_.empty()) {
                // A copy: WriteFrame may acknowledge (and so destroy) the queued frame while writing.
                const TTask next = queue_.front();
                headWritten_ = true;
                WriteFrame(next.GetFrameData(), next.GetFrameSize());
            }
            return std::nullopt;
        }
        if (silence.head != headId_) {
            silence.head = headId_;
            silence.slices = 0;
        }
        const int limit = noAnswerSlices_.load();
        if (limit <= 0 || ++silence.slices < limit) return std::nullopt;
        silence.slices = 0;
        return queue_.front();
    }

    // Writes the head once. A wake-up that finds the head written already is a stale one (taken just
    // before the head changed, with a second left for the new head): writing again would hand the
    // device a packet twice, and it would store both, so it writes nothing.
    void SendHead() {
        std::optional<TTask> head;
        int attemptsBefore = 0;
        int queued = 0;
        {
            CMuTexGuard guard(*this);
            if (!guard.Locked() || queue_.empty()) return;
            if (headWritten_) {
                Trace(L"[CTaskManager] wake-up for a frame already written; not written again\r\n");
                return;
            }
            head.emplace(queue_.front());
            attemptsBefore = queue_.front().AttemptsMade();
            queue_.front().TryCount();
            headWritten_ = true;
            senderWriting_ = true;
            queued = static_cast<int>(queue_.size());
        }
        TraceSend(queued);
        SendTask(*head, attemptsBefore);
        CMuTexGuard guard(*this);
        // A lock that cannot be taken is a failed lock object; nothing is written from OnAnswer then
        // either, so leaving the flag set cannot lose a frame.
        if (guard.Locked()) senderWriting_ = false;
    }

    void TraceSend(int queued) {
        Trace(L"[TaskManager] thread run :%d size=%d\r\n", static_cast<int>(GetTickCountMs()), queued);
    }

    std::deque<TTask> queue_;           // guarded by the queue lock, as are the four below
    std::shared_ptr<SenderLink> link_;  // null while the sender is stopped
    uint64_t headId_ = 0;               // changes whenever a different frame becomes the head
    bool headWritten_ = false;          // the current head has been written at least once
    bool senderWriting_ = false;        // the sender is writing a frame outside the lock
    std::atomic<uint32_t> waitSliceMs_{kDefaultWaitSliceMs};
    std::atomic<int> noAnswerSlices_{kDefaultNoAnswerSlices};
};
