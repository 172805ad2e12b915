// The engine's handle on a window: each message runs on the UI thread while its sender waits, and a
// closed handle releases its senders instead of hanging them.
#include <QThread>

#include <atomic>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "UiTestSupport.h"
#include "ui/NotifyBridge.h"

using namespace uitest;

namespace {

TEST(NotifyBridge, OnTheUiThreadTheHandlerRunsDirectly) {
    int depth = 0;
    CNotifyBridge* self = nullptr;
    CNotifyBridge bridge([&](uint32_t message, NotifyWParam w, NotifyLParam l) -> intptr_t {
        EXPECT_EQ(QThread::currentThread(), QCoreApplication::instance()->thread());
        // A handler that reports again (as an engine call from the UI thread may) must not deadlock.
        if (message == WM_ENGINE_READY && depth++ == 0) return self->Send(WM_ENGINE_PACKET, 4, 5) + 1;
        return static_cast<intptr_t>(w * 10 + static_cast<NotifyWParam>(l));
    });
    self = &bridge;
    EXPECT_EQ(bridge.Send(WM_ENGINE_READY, 0, 0), 46);
    EXPECT_EQ(bridge.Send(WM_ENGINE_STEP_END, 7, 1), 71);
}

TEST(NotifyBridge, AnotherThreadWaitsUntilTheUiThreadHandledTheMessage) {
    std::atomic<bool> returned{false};
    std::atomic<bool> returnedBeforeHandler{false};
    std::atomic<int> handled{0};
    CNotifyBridge bridge([&](uint32_t, NotifyWParam w, NotifyLParam) -> intptr_t {
        EXPECT_EQ(QThread::currentThread(), QCoreApplication::instance()->thread());
        if (returned.load()) returnedBeforeHandler = true;
        ++handled;
        return static_cast<intptr_t>(w + 1);
    });
    intptr_t result = 0;
    std::thread engine([&] {
        result = bridge.Send(WM_ENGINE_STEP_BEGIN, 41, 0);
        returned = true;
    });
    ASSERT_TRUE(PumpUntil([&] { return returned.load(); }, 5000));
    engine.join();
    EXPECT_EQ(result, 42);
    EXPECT_EQ(handled.load(), 1);
    EXPECT_FALSE(returnedBeforeHandler.load());
}

TEST(NotifyBridge, ManySendersEachGetTheirOwnAnswerInOrder) {
    constexpr int kThreads = 4;
    constexpr int kMessages = 200;
    std::map<NotifyWParam, std::vector<NotifyLParam>> seen;  // UI thread only
    CNotifyBridge bridge([&](uint32_t, NotifyWParam thread, NotifyLParam n) -> intptr_t {
        seen[thread].push_back(n);
        return static_cast<intptr_t>(thread * 1000) + n;
    });
    std::atomic<int> wrong{0};
    std::atomic<int> done{0};
    std::vector<std::thread> senders;
    for (int t = 0; t < kThreads; ++t) {
        senders.emplace_back([&, t] {
            for (int n = 0; n < kMessages; ++n) {
                if (bridge.Send(WM_ENGINE_PACKET, static_cast<NotifyWParam>(t), n) != t * 1000 + n) ++wrong;
            }
            ++done;
        });
    }
    ASSERT_TRUE(PumpUntil([&] { return done.load() == kThreads; }, 10000));
    for (std::thread& s : senders) s.join();
    EXPECT_EQ(wrong.load(), 0);
    for (int t = 0; t < kThreads; ++t) {
        std::vector<NotifyLParam> expected(kMessages);
        for (int n = 0; n < kMessages; ++n) expected[static_cast<size_t>(n)] = n;
        EXPECT_EQ(seen[static_cast<NotifyWParam>(t)], expected) << "sender " << t;
    }
}

TEST(NotifyBridge, CloseReleasesAWaitingSenderAndDropsItsMessage) {
    std::atomic<int> handled{0};
    CNotifyBridge bridge([&](uint32_t, NotifyWParam, NotifyLParam) -> intptr_t { return ++handled; });
    std::atomic<bool> sending{false};
    std::atomic<bool> returned{false};
    intptr_t result = -1;
    std::thread engine([&] {
        sending = true;
        result = bridge.Send(WM_ENGINE_STEP_END, 7, 0);
        returned = true;
    });
    ASSERT_TRUE(testsupport::WaitUntil([&] { return sending.load(); }, 5000));
    // The UI thread runs no events here, so the sender can only be waiting.
    EXPECT_TRUE(testsupport::NeverWithin([&] { return returned.load(); }, 50));
    bridge.Close();
    ASSERT_TRUE(testsupport::WaitUntil([&] { return returned.load(); }, 5000));
    engine.join();
    EXPECT_EQ(result, 0);
    QCoreApplication::processEvents();
    EXPECT_EQ(handled.load(), 0) << "a message to a closed window must not run";
    EXPECT_TRUE(bridge.IsClosed());
    EXPECT_EQ(bridge.Send(WM_ENGINE_READY, 0, 0), 0);
    EXPECT_EQ(handled.load(), 0);
}

}  // namespace

IAP_UI_TEST_MAIN()
