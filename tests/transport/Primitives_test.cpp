// The thread and lock primitives under the semantics the port, the queue and the job worker rely on.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "support/TestSupport.h"
#include "transport/AutoThread.h"
#include "transport/EventObject.h"
#include "transport/LockObject.h"
#include "transport/MuTexObject.h"
#include "transport/Singleton.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;
using testsupport::ScaledMs;
using testsupport::WaitUntil;

long long MsSince(Clock::time_point start) {
    return std::chrono::duration_cast<milliseconds>(Clock::now() - start).count();
}

// Loops until asked to stop and returns a fixed code; counts the runs that have ended.
class CooperativeWorker : public CAutoThread {
public:
    explicit CooperativeWorker(uint32_t stopWaitMs = 2000) : CAutoThread(stopWaitMs) {}
    ~CooperativeWorker() override { Stop(); }
    std::atomic<int> started{0};
    std::atomic<int> ended{0};

protected:
    int Run() override {
        ++started;
        while (!IsStopping()) std::this_thread::sleep_for(milliseconds(1));
        ++ended;
        return 42;
    }
};

// What an abandoned thread may still touch after its object is gone.
struct StubbornState {
    std::atomic<bool> release{false};
    std::atomic<bool> running{false};
    std::atomic<bool> ended{false};
};

// Ignores the stop flag until released. It gives up by itself after a minute, far beyond every bound
// below, only so that a test that failed before releasing it leaves no thread spinning.
class StubbornWorker : public CAutoThread {
public:
    StubbornWorker(uint32_t stopWaitMs, std::shared_ptr<StubbornState> state)
        : CAutoThread(stopWaitMs), state_(std::move(state)) {}
    ~StubbornWorker() override { Stop(); }

protected:
    int Run() override {
        const std::shared_ptr<StubbornState> state = state_;  // `this` may die while this runs
        state->running = true;
        const auto giveUp = Clock::now() + std::chrono::minutes(1);
        while (!state->release && Clock::now() < giveUp) std::this_thread::sleep_for(milliseconds(1));
        state->ended = true;
        return 7;
    }

private:
    std::shared_ptr<StubbornState> state_;
};

TEST(AutoThreadTest, StopOnANeverStartedObject) {
    CooperativeWorker worker;
    EXPECT_TRUE(worker.Stop());
    EXPECT_FALSE(worker.IsRunning());
    EXPECT_EQ(worker.IsStopping(), 1);
    EXPECT_EQ(worker.GetExitCode(), -1);
    EXPECT_FALSE(worker.Terminate());
    EXPECT_EQ(worker.started.load(), 0);
}

TEST(AutoThreadTest, NormalRunAndRestart) {
    CooperativeWorker worker;
    ASSERT_TRUE(worker.Start());
    EXPECT_EQ(worker.IsStopping(), 0);
    ASSERT_TRUE(WaitUntil([&] { return worker.started == 1; }, 2000));
    const uint32_t firstId = worker.GetThreadId();

    ASSERT_TRUE(worker.Start());
    // The first thread was stopped and had ended before the second one began.
    EXPECT_EQ(worker.ended.load(), 1);
    EXPECT_NE(worker.GetThreadId(), firstId);
    ASSERT_TRUE(WaitUntil([&] { return worker.started == 2; }, 2000));
    EXPECT_EQ(worker.GetExitCode(), -1);  // still running

    EXPECT_TRUE(worker.Stop());
    EXPECT_EQ(worker.ended.load(), 2);
    EXPECT_FALSE(worker.IsRunning());
    EXPECT_EQ(worker.GetExitCode(), 42);
}

TEST(AutoThreadTest, StopAbandonsARunThatIgnoresTheFlag) {
    constexpr uint32_t kStopWaitMs = 300;
    auto state = std::make_shared<StubbornState>();
    {
        StubbornWorker worker(kStopWaitMs, state);
        ASSERT_TRUE(worker.Start());
        ASSERT_TRUE(WaitUntil([&] { return state->running.load(); }, 2000));
        const auto start = Clock::now();
        EXPECT_TRUE(worker.Stop());
        const long long took = MsSince(start);
        EXPECT_GE(took, kStopWaitMs - 10);
        // The point of the stop wait: Stop returns once it is up, however long the thread goes on.
        EXPECT_LT(took, kStopWaitMs + ScaledMs(1000)) << "Stop took " << took << " ms";
        EXPECT_FALSE(worker.IsRunning());
        EXPECT_EQ(worker.IsStopping(), 1);
        EXPECT_EQ(worker.GetExitCode(), -1);
        EXPECT_FALSE(state->ended.load());

        // The abandoned run ending later does not show up as this object's exit code.
        state->release = true;
        ASSERT_TRUE(WaitUntil([&] { return state->ended.load(); }, 5000));
        EXPECT_EQ(worker.GetExitCode(), -1);
    }
    // Destroyed while its abandoned thread is still running: the thread ends on its own.
    auto late = std::make_shared<StubbornState>();
    {
        StubbornWorker worker(50, late);
        ASSERT_TRUE(worker.Start());
        ASSERT_TRUE(WaitUntil([&] { return late->running.load(); }, 2000));
    }
    late->release = true;
    EXPECT_TRUE(WaitUntil([&] { return late->ended.load(); }, 5000));
}

TEST(AutoThreadTest, TerminateAbandonsAtOnce) {
    auto state = std::make_shared<StubbornState>();
    // A stop wait far beyond the bound below: a Terminate that waited for it could not pass.
    StubbornWorker worker(60000, state);
    ASSERT_TRUE(worker.Start());
    ASSERT_TRUE(WaitUntil([&] { return state->running.load(); }, 2000));
    const auto start = Clock::now();
    EXPECT_TRUE(worker.Terminate());
    const long long took = MsSince(start);
    EXPECT_LT(took, ScaledMs(1000)) << "Terminate took " << took << " ms";
    EXPECT_FALSE(state->ended.load()) << "Terminate waited for the thread";
    EXPECT_FALSE(worker.IsRunning());
    EXPECT_EQ(worker.IsStopping(), 1);
    EXPECT_EQ(worker.GetExitCode(), -1);
    state->release = true;
    EXPECT_TRUE(WaitUntil([&] { return state->ended.load(); }, 5000));
}

TEST(EventObjectTest, SignalsAreNotCountedAndNotLost) {
    CEventObject event;
    ASSERT_TRUE(event.Create(nullptr, false, false));
    EXPECT_EQ(event.Wait(0), WaitResult::Timeout);  // created non-signalled

    // A Set before the wait is kept; several wake one wait only (auto-reset).
    event.Set();
    event.Set();
    event.Set();
    EXPECT_EQ(event.Wait(1000), WaitResult::Signalled);
    const auto start = Clock::now();
    EXPECT_EQ(event.Wait(100), WaitResult::Timeout);
    const long long took = MsSince(start);
    EXPECT_GE(took, 95);
    // A timed wait ends when its time is up, not at some later event.
    EXPECT_LT(took, 100 + ScaledMs(1000)) << "a 100 ms wait took " << took << " ms";
}

TEST(EventObjectTest, OneSetReleasesOneWaiter) {
    CEventObject event;
    event.Create();
    std::atomic<int> released{0};
    std::atomic<int> waiting{0};
    std::vector<std::thread> waiters;
    for (int i = 0; i < 2; ++i) {
        waiters.emplace_back([&] {
            ++waiting;
            if (event.Wait(5000) == WaitResult::Signalled) ++released;
        });
    }
    ASSERT_TRUE(WaitUntil([&] { return waiting == 2; }, 2000));
    event.Set();
    ASSERT_TRUE(WaitUntil([&] { return released == 1; }, 2000));
    event.Set();
    ASSERT_TRUE(WaitUntil([&] { return released == 2; }, 2000));
    for (std::thread& waiter : waiters) waiter.join();
    EXPECT_EQ(event.Wait(0), WaitResult::Timeout);  // both signals were consumed
}

// Only failing timed locks are used: GCC 12's ThreadSanitizer does not see a timed lock that
// succeeds (pthread_mutex_clocklock is not intercepted) and would report its unlock.
TEST(MuTexObjectTest, ReentrantForTheOwnerExclusiveForOthers) {
    CMuTexObject mutex;
    const auto otherThreadTimedLockFails = [&] {
        bool locked = true;
        std::thread other([&] {
            locked = mutex.Lock(50);
            if (locked) mutex.Unlock();
        });
        other.join();
        return !locked;
    };
    ASSERT_TRUE(mutex.Lock());
    ASSERT_TRUE(mutex.Lock());  // the owner locks again without waiting for itself
    {
        CMuTexGuard guard(mutex);
        EXPECT_TRUE(guard.Locked());
    }
    EXPECT_TRUE(otherThreadTimedLockFails());
    mutex.Unlock();
    EXPECT_TRUE(otherThreadTimedLockFails());  // still held once
    bool guardLocked = true;
    std::thread guarded([&] {
        CMuTexGuard guard(mutex, 20);
        guardLocked = guard.Locked();
    });
    guarded.join();
    EXPECT_FALSE(guardLocked);
    EXPECT_EQ(mutex.Waiting(), 0);  // the failed waits and the owner's own re-locks are not counted

    // A thread blocked in Lock counts as waiting until it has the lock.
    std::atomic<bool> acquired{false};
    std::thread other([&] {
        CMuTexGuard guard(mutex);
        acquired = guard.Locked();
    });
    EXPECT_TRUE(WaitUntil([&] { return mutex.Waiting() == 1; }, 2000));
    EXPECT_FALSE(acquired.load());
    mutex.Unlock();
    EXPECT_TRUE(WaitUntil([&] { return acquired.load(); }, 2000));
    other.join();
    EXPECT_EQ(mutex.Waiting(), 0);
}

TEST(LockObjectTest, ReentrantForTheOwner) {
    CLockObject lock;
    lock.Enter();
    {
        CLockGuard again(lock);  // would deadlock if not re-entrant
    }
    lock.Leave();
    std::atomic<bool> entered{false};
    std::thread other([&] {
        CLockGuard guard(lock);
        entered = true;
    });
    other.join();
    EXPECT_TRUE(entered.load());
}

class BaseWithData {
public:
    virtual ~BaseWithData() = default;
    int data = 5;
};

// Singleton as a second base, so a wrong cast would give a shifted pointer.
class Registered : public BaseWithData, public Singleton<Registered> {};

TEST(SingletonTest, NullOutsideTheObjectsLifetime) {
    EXPECT_EQ(Registered::Instance(), nullptr);
    {
        Registered one;
        EXPECT_EQ(Registered::Instance(), &one);
        EXPECT_EQ(Registered::Instance()->data, 5);
    }
    EXPECT_EQ(Registered::Instance(), nullptr);

    // A newer object takes over; the older one's end must not clear the newer's record.
    auto first = std::make_unique<Registered>();
    auto second = std::make_unique<Registered>();
    first.reset();
    EXPECT_EQ(Registered::Instance(), second.get());
    second.reset();
    EXPECT_EQ(Registered::Instance(), nullptr);
}

}  // namespace

namespace {

// The first run blocks past the stop wait, then loops on the flag like a normal worker would.
class LateWorker : public CAutoThread {
public:
    LateWorker() : CAutoThread(100) {}
    ~LateWorker() override { Stop(); }
    std::atomic<bool> release{false};
    std::atomic<int> runs{0};
    std::atomic<int> finished{0};

protected:
    int Run() override {
        const int run = ++runs;
        if (run == 1)
            while (!release) std::this_thread::sleep_for(milliseconds(1));
        while (!IsStopping()) std::this_thread::sleep_for(milliseconds(1));
        ++finished;
        return run;
    }
};

TEST(AutoThreadTest, AnAbandonedThreadNeverRunsBesideItsSuccessor) {
    LateWorker worker;
    ASSERT_TRUE(worker.Start());
    ASSERT_TRUE(WaitUntil([&] { return worker.runs == 1; }, 1000));
    ASSERT_TRUE(worker.Start());  // the first thread is abandoned after 100 ms
    ASSERT_TRUE(WaitUntil([&] { return worker.runs == 2; }, 1000));
    worker.release = true;
    // The abandoned thread reads "stopping" although the object's flag is clear for the new thread.
    EXPECT_TRUE(WaitUntil([&] { return worker.finished == 1; }, 1000));
    EXPECT_EQ(worker.IsStopping(), 0);
    worker.Stop();
    EXPECT_EQ(worker.finished, 2);
}

}  // namespace
