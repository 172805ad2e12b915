// The command queue and its sender thread, driven through a fake owner that records every frame the
// sender writes and, like the engine, acknowledges the end commands the device never answers.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "protocol/IspCodes.h"
#include "protocol/Packet_ISP.h"
#include "support/TestSupport.h"
#include "transport/TaskManager.h"

namespace {

using Clock = std::chrono::steady_clock;
using Names = std::vector<std::string>;
using testsupport::NeverWithin;
using testsupport::ScaledMs;
using testsupport::Stopwatch;
using testsupport::TraceCapture;
using testsupport::WaitUntil;

// A guard for writes that follow a wake-up. It may exceed a wait slice on a slow build: a slice's end
// never resends a head, so a frame that is not written on a wake-up is never written at all.
constexpr int kPromptMs = 1000;

CPacket_ISP Frame(uint8_t cmd, uint8_t tag = 0) {
    CPacket_ISP frame;
    frame.Pack(cmd, &tag, 1);
    return frame;
}

// "23:01": command byte and first payload byte of a frame.
std::string Name(const uint8_t* bytes) {
    char text[8];
    std::snprintf(text, sizeof text, "%02X:%02X", bytes[FRAME_OFFSET_CMD], bytes[FRAME_OFFSET_CMD + 1]);
    return text;
}

// Set while this thread is inside FakeOwner::SendTask; OnAnswer may write from another thread meanwhile.
thread_local bool t_inSendTask = false;

long long Ms(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(to - from).count();
}

class FakeOwner : public CTaskManager<CPacket_ISP, FakeOwner> {
public:
    struct Event {
        std::string frame;
        Clock::time_point at;
        std::thread::id by = std::this_thread::get_id();
        bool sentTask = false;  // through SendTask: the sender writes that way only after a wake-up
        int slicesBefore = 0;   // wait slices that had ended with a frame queued, up to this event
    };
    explicit FakeOwner(uint32_t sliceMs = kDefaultWaitSliceMs, int noAnswerSlices = kDefaultNoAnswerSlices) {
        SetWaitSliceMs(sliceMs);
        SetNoAnswerSlices(noAnswerSlices);
    }
    ~FakeOwner() override { StopSender(); }

    // Hooks run on the sender thread; set them before the sender starts.
    std::function<void(const std::string& frame)> onWrite;            // inside WriteFrame
    std::function<void(uint8_t cmd, int attemptsBefore)> afterSend;    // inside SendTask, after the write
    std::function<void()> onNoAnswer;
    std::atomic<uint8_t> writtenOnAnswer{0};  // this command goes out from OnAnswer's thread

    std::vector<Event> Writes() const { return Copy(writes_); }
    std::vector<Event> Reports() const { return Copy(reports_); }
    Names Written() const {
        Names names;
        for (const Event& e : Writes()) names.push_back(e.frame);
        return names;
    }
    size_t WriteCount() const { return Writes().size(); }
    std::vector<int> AttemptsBefore() const { return Copy(attempts_); }
    Names Ended() const { return Copy(ended_); }

protected:
    int WriteFrame(const uint8_t* bytes, int /*length*/) override {
        const uint8_t cmd = bytes[FRAME_OFFSET_CMD];
        Add(writes_, Event{Name(bytes), Clock::now(), std::this_thread::get_id(), t_inSendTask});
        if (onWrite) onWrite(Name(bytes));
        if (cmd == CMD_EDOG_END || cmd == CMD_MUSIC_END || cmd == CMD_PIC_END || cmd == CMD_RADAR_END) {
            OnAnswer(cmd);
            // Like the engine, read the frame again after acknowledging it (to pick the next image).
            Add(ended_, Name(bytes));
        }
        return 1;
    }
    int SendTask(const CPacket_ISP& task, int attemptsBefore) override {
        Add(attempts_, attemptsBefore);
        t_inSendTask = true;
        WriteFrame(task.GetFrameData(), task.GetFrameSize());
        t_inSendTask = false;
        if (afterSend) afterSend(task.GetCmd(), attemptsBefore);
        return 0;
    }
    // The sender asks this at the end of every wait slice that found a frame queued, so the calls
    // count the silent slices.
    bool IsNoWaitTask(const CPacket_ISP& task) override {
        silentSlices_.fetch_add(1);
        return task.GetCmd() == CMD_READ_SETTINGS || task.GetCmd() == CMD_READ_SETTINGS_INFO;
    }
    bool IsWrittenOnAnswer(const CPacket_ISP& task) override { return task.GetCmd() == writtenOnAnswer.load(); }
    void OnNoAnswer(const CPacket_ISP& head) override {
        Add(reports_, Event{Name(head.GetFrameData()), Clock::now(), std::this_thread::get_id(), false,
                            silentSlices_.load()});
        if (onNoAnswer) onNoAnswer();
    }

private:
    template <typename T>
    void Add(std::vector<T>& list, T item) {
        std::lock_guard<std::mutex> lock(mutex_);
        list.push_back(std::move(item));
    }
    template <typename T>
    std::vector<T> Copy(const std::vector<T>& list) const {
        std::lock_guard<std::mutex> lock(mutex_);
        return list;
    }
    mutable std::mutex mutex_;
    std::vector<Event> writes_, reports_;
    std::vector<int> attempts_;
    Names ended_;
    std::atomic<int> silentSlices_{0};
};

size_t Count(const std::wstring& text, const std::wstring& piece) {
    size_t n = 0;
    for (size_t at = text.find(piece); at != std::wstring::npos; at = text.find(piece, at + 1)) ++n;
    return n;
}

TEST(TaskManagerTest, OneFrameInFlightAdvancedByItsAnswer) {
    TraceCapture trace;
    FakeOwner owner;  // 5000 ms slice: every prompt write below comes from a wake-up
    ASSERT_EQ(owner.RestartSender(), 1);
    ASSERT_EQ(owner.AddTask(Frame(CMD_FIRMWARE_DATA, 1)), 1);
    ASSERT_TRUE(WaitUntil([&] { return owner.WriteCount() == 1; }, kPromptMs));
    EXPECT_TRUE(trace.Contains(L" size=1\r\n"));

    // A wake-up now would find packet 1 still at the head and write it a second time.
    owner.AddTask(Frame(CMD_FIRMWARE_DATA, 2));
    EXPECT_TRUE(NeverWithin([&] { return owner.WriteCount() > 1; }, 300));

    EXPECT_EQ(owner.OnAnswer(CMD_FIRMWARE_END), 0);
    EXPECT_EQ(owner.TaskCount(), 2);
    EXPECT_TRUE(trace.Contains(L"[CMD 06 1A\r\n"));
    EXPECT_EQ(owner.OnAnswer(CMD_FIRMWARE_DATA), 1);
    EXPECT_TRUE(trace.Contains(L"[CMD 06 06\r\n"));
    ASSERT_TRUE(WaitUntil([&] { return owner.WriteCount() == 2; }, kPromptMs));
    EXPECT_EQ(owner.OnAnswer(CMD_FIRMWARE_DATA), 1);
    EXPECT_EQ(owner.Written(), (Names{"06:01", "06:02"}));
    EXPECT_EQ(owner.AttemptsBefore(), (std::vector<int>{0, 0}));

    // An empty queue acknowledges nothing and writes no line.
    EXPECT_EQ(owner.OnAnswer(CMD_FIRMWARE_DATA), 0);
    EXPECT_EQ(Count(trace.Text(), L"[CMD "), 3u);
}

TEST(TaskManagerTest, PlainFramesGoOutFromTheAnsweringThreadUnlessTheSenderIsWriting) {
    constexpr uint8_t kPackets = 12;
    FakeOwner owner;
    owner.writtenOnAnswer = CMD_FIRMWARE_DATA;
    // Packet 1's answer arrives while the sender is still inside its write: packet 2 is the sender's.
    std::atomic<int> sends{0};
    owner.afterSend = [&](uint8_t, int) {
        if (++sends == 1) owner.OnAnswer(CMD_FIRMWARE_DATA);
    };
    ASSERT_EQ(owner.RestartSender(), 1);
    owner.Lock();
    for (uint8_t tag = 1; tag <= kPackets; ++tag) owner.AddTask(Frame(CMD_FIRMWARE_DATA, tag));
    owner.AddTask(Frame(CMD_FIRMWARE_END));
    owner.Unlock();
    for (size_t answered = 2; answered <= kPackets; ++answered) {
        ASSERT_TRUE(WaitUntil([&] { return owner.WriteCount() == answered; }, kPromptMs));
        EXPECT_EQ(owner.OnAnswer(CMD_FIRMWARE_DATA), 1);
    }
    ASSERT_TRUE(WaitUntil([&] { return owner.WriteCount() == kPackets + 1u; }, kPromptMs));
    const auto w = owner.Writes();
    EXPECT_EQ(w[1].by, w[0].by);
    EXPECT_EQ(w.back().frame, "1A:00");  // not a plain frame: the sender's
    EXPECT_EQ(w.back().by, w[0].by);
    // The sender may still be leaving its write when an answer comes, but not every time.
    const auto here = std::count_if(w.begin(), w.end(), [](const auto& e) { return e.by == std::this_thread::get_id(); });
    EXPECT_GE(here, kPackets / 2) << "packets written by the answering thread";
}

TEST(TaskManagerTest, AnAnswerNeverRemovesAFrameNotYetWritten) {
    FakeOwner owner;
    ASSERT_EQ(owner.RestartSender(), 1);
    owner.Lock();
    for (uint8_t tag = 1; tag <= 3; ++tag) owner.AddTask(Frame(CMD_EDOG_PACKET, tag));
    owner.Unlock();
    ASSERT_TRUE(WaitUntil([&] { return owner.WriteCount() == 1; }, kPromptMs));
    // Holding the queue keeps packet 2 unwritten: a duplicated answer for packet 1 must not take it.
    owner.Lock();
    EXPECT_EQ(owner.OnAnswer(CMD_EDOG_PACKET), 1);
    EXPECT_EQ(owner.OnAnswer(CMD_EDOG_PACKET), 0);
    owner.Unlock();
    ASSERT_TRUE(WaitUntil([&] { return owner.WriteCount() == 2; }, kPromptMs));
    EXPECT_EQ(owner.OnAnswer(CMD_EDOG_PACKET), 1);
    ASSERT_TRUE(WaitUntil([&] { return owner.WriteCount() == 3; }, kPromptMs));
    EXPECT_EQ(owner.Written(), (Names{"23:01", "23:02", "23:03"}));
}

// What the device is answering is the head once written, and nothing before that; dropping the head
// drops it alone and the frame behind it goes out.
TEST(TaskManagerTest, TheHeadIsInFlightOnlyOnceWrittenAndADropTakesItAlone) {
    FakeOwner owner(50, 2);
    owner.onNoAnswer = [&owner] { owner.DropHead(CMD_DEVICE_INFO); };
    EXPECT_EQ(owner.HeadInFlight(), 0) << "empty queue";
    owner.AddTask(Frame(CMD_DEVICE_INFO, 3));
    owner.AddTask(Frame(CMD_FIRMWARE_START, 1));
    EXPECT_EQ(owner.HeadCommand(), CMD_DEVICE_INFO);
    EXPECT_EQ(owner.HeadInFlight(), 0) << "queued, not written: the sender is stopped";
    EXPECT_EQ(owner.DropHead(CMD_FIRMWARE_START), 0) << "only the head's own command drops it";
    ASSERT_EQ(owner.RestartSender(), 1);  // starts on an empty queue
    owner.Lock();
    owner.AddTask(Frame(CMD_DEVICE_INFO, 3));
    owner.AddTask(Frame(CMD_FIRMWARE_START, 1));
    owner.Unlock();
    ASSERT_TRUE(WaitUntil([&] { return owner.WriteCount() == 1; }, kPromptMs));
    EXPECT_EQ(owner.HeadInFlight(), CMD_DEVICE_INFO);
    // The unanswered 'E' goes after its slices; the run's start behind it is written, and is in flight.
    ASSERT_TRUE(WaitUntil([&] { return owner.WriteCount() == 2; }, 2000));
    EXPECT_EQ(owner.Written(), (Names{"45:03", "1C:01"}));
    EXPECT_EQ(owner.TaskCount(), 1);
    EXPECT_EQ(owner.HeadInFlight(), CMD_FIRMWARE_START);
    EXPECT_EQ(owner.OnAnswer(CMD_FIRMWARE_START), 1);
    EXPECT_EQ(owner.HeadInFlight(), 0);
}

TEST(TaskManagerTest, AStaleWakeUpNeverWritesAFrameTwice) {
    FakeOwner owner;
    ASSERT_EQ(owner.RestartSender(), 1);
    // One answered frame first, so the sender is known to be waiting for its next wake-up.
    owner.AddTask(Frame(CMD_FIRMWARE_START));
    ASSERT_TRUE(WaitUntil([&] { return owner.WriteCount() == 1; }, kPromptMs));
    ASSERT_EQ(owner.OnAnswer(CMD_FIRMWARE_START), 1);
    // A wake-up consumed just before the head changed leaves a second one pending for the new head.
    // Holding the queue lets the sender wake and wait for it: once it waits for the queue lock, it
    // has taken the wake-up.
    testsupport::TraceCapture trace;
    owner.Lock();
    owner.AddTask(Frame(CMD_EDOG_START));
    const bool senderWaits = WaitUntil([&] { return owner.Waiting() == 1; }, kPromptMs);
    owner.ClearTasks();
    owner.AddTask(Frame(CMD_EDOG_PACKET, 1));
    owner.AddTask(Frame(CMD_EDOG_PACKET, 2));
    owner.Unlock();
    ASSERT_TRUE(senderWaits) << "the sender never came for the queue";
    // The second wake-up finds packet 1 written: the device would store it twice.
    ASSERT_TRUE(WaitUntil([&] { return trace.Contains(L"not written again"); }, kPromptMs));
    EXPECT_EQ(owner.Written(), (Names{"1C:00", "23:01"}));
    EXPECT_EQ(owner.TaskCount(), 2);
    ASSERT_EQ(owner.OnAnswer(CMD_EDOG_PACKET), 1);
    ASSERT_TRUE(WaitUntil([&] { return owner.WriteCount() == 3; }, kPromptMs));
    EXPECT_EQ(owner.Written(), (Names{"1C:00", "23:01", "23:02"}));
    EXPECT_EQ(owner.AttemptsBefore(), (std::vector<int>{0, 0, 0}));
}

TEST(TaskManagerTest, SettingsReadsAreDroppedAfterOneSliceAndWritesMayReenter) {
    constexpr uint32_t sliceMs = 150;
    FakeOwner owner(sliceMs);
    // The frame after a dropped settings read is written with the queue locked: the end command
    // acknowledges itself from there, and packet 1's write queues and answers more.
    owner.onWrite = [&owner](const std::string& frame) {
        if (frame == "43:01") {
            owner.AddTask(Frame(CMD_RADAR_PACKET, 2));
            owner.OnAnswer(CMD_RADAR_PACKET);
        }
    };
    ASSERT_EQ(owner.RestartSender(), 1);
    owner.Lock();
    for (uint8_t cmd : {CMD_READ_SETTINGS, CMD_EDOG_END, CMD_READ_SETTINGS_INFO, CMD_RADAR_PACKET})
        owner.AddTask(Frame(cmd, cmd == CMD_RADAR_PACKET ? 1 : 0));
    owner.Unlock();
    ASSERT_TRUE(WaitUntil([&] { return owner.WriteCount() == 5; }, 10 * sliceMs));
    EXPECT_EQ(owner.Written(), (Names{"47:00", "20:00", "49:00", "43:01", "43:02"}));
    EXPECT_EQ(owner.Ended(), (Names{"20:00"}));
    const auto w = owner.Writes();
    EXPECT_GE(Ms(w[0].at, w[1].at), sliceMs - 5);
    EXPECT_GE(Ms(w[2].at, w[3].at), sliceMs - 5);
    // The dropped reads' successors are written from the slice's end; the end command's own answer
    // wakes the sender for the next frame, as the answer to packet 1 does for packet 2 (a frame left
    // for a slice to end would have been dropped unwritten, or written from the slice's end).
    std::vector<bool> fromWakeUp;
    for (const auto& e : w) fromWakeUp.push_back(e.sentTask);
    EXPECT_EQ(fromWakeUp, (std::vector<bool>{true, false, true, false, true}));
    // Any other head waits for its answer.
    EXPECT_TRUE(NeverWithin([&] { return owner.WriteCount() > 5; }, 2 * sliceMs));
    EXPECT_EQ(owner.TaskCount(), 1);
}

TEST(TaskManagerTest, SelfAcknowledgedEndCommandsLeaveAtOnce) {
    for (const uint8_t end : {CMD_EDOG_END, CMD_MUSIC_END, CMD_PIC_END, CMD_RADAR_END}) {
        const std::string name = Name(Frame(end).GetFrameData());
        SCOPED_TRACE(name);
        FakeOwner owner;
        ASSERT_EQ(owner.RestartSender(), 1);
        owner.Lock();
        owner.AddTask(Frame(end));
        owner.AddTask(Frame(CMD_PIC_START));
        owner.Unlock();
        ASSERT_TRUE(WaitUntil([&] { return owner.WriteCount() == 2; }, kPromptMs));
        EXPECT_EQ(owner.Written(), (Names{name, "36:00"}));
        EXPECT_EQ(owner.Ended(), (Names{name}));
        EXPECT_EQ(owner.TaskCount(), 1);
    }
}

TEST(TaskManagerTest, SendTaskRunsOutsideTheQueueLock) {
    FakeOwner owner;
    std::atomic<bool> otherThreadGotIn{false};
    owner.afterSend = [&](uint8_t, int) {
        // A slow serial write must not keep the reader thread out of the queue.
        auto other = std::async(std::launch::async, [&owner] { return owner.TaskCount(); });
        otherThreadGotIn = other.wait_for(std::chrono::milliseconds(ScaledMs(kPromptMs))) == std::future_status::ready;
    };
    ASSERT_EQ(owner.RestartSender(), 1);
    owner.AddTask(Frame(CMD_FIRMWARE_START));
    ASSERT_TRUE(WaitUntil([&] { return otherThreadGotIn.load(); }, 2 * kPromptMs));
}

TEST(TaskManagerTest, NoAnswerIsReportedAfterTheConfiguredSlicesAndNothingIsResent) {
    // The report comes at the end of the last of its slices, not one later: the sender's own count of
    // silent slices decides, so a slow machine cannot move it.
    constexpr int kSliceMs = 200;
    const long long sliceMs = ScaledMs(kSliceMs);
    for (const int slices : {1, 2, 3}) {
        SCOPED_TRACE(slices);
        FakeOwner owner(sliceMs, slices);
        ASSERT_EQ(owner.RestartSender(), 1);
        owner.AddTask(Frame(CMD_PIC_PACKET, 7));
        ASSERT_TRUE(WaitUntil([&] { return owner.Reports().size() >= 2; }, 4 * slices * kSliceMs + 2000));
        const auto writes = owner.Writes();
        const auto reports = owner.Reports();
        ASSERT_EQ(writes.size(), 1u);
        EXPECT_EQ(reports[0].frame, "38:07");
        // Not after slices - 1 slices, not after slices + 1; the count starts again after a report.
        EXPECT_EQ(reports[0].slicesBefore, slices);
        EXPECT_EQ(reports[1].slicesBefore, 2 * slices);
        // The slices are real waits (a slow machine only makes them longer).
        EXPECT_GE(Ms(writes[0].at, reports[0].at), slices * sliceMs - 5);
    }
}

TEST(TaskManagerTest, TheOwnerMayClearFromTheReportAndAnEmptyQueueIsNeverReported) {
    FakeOwner owner(50, 2);
    owner.onNoAnswer = [&owner] { owner.ClearTasks(); };
    ASSERT_EQ(owner.RestartSender(), 1);
    owner.AddTask(Frame(CMD_WRITE_SETTINGS));
    ASSERT_TRUE(WaitUntil([&] { return owner.TaskCount() == 0; }, 2000));
    EXPECT_TRUE(NeverWithin([&] { return owner.Reports().size() > 1; }, 500));
    EXPECT_EQ(owner.Written(), (Names{"4A:00"}));
}

TEST(TaskManagerTest, StopSenderReturnsAtOnceFromTheMiddleOfAWaitSlice) {
    TraceCapture trace;
    FakeOwner owner;  // 5000 ms slice, 2000 ms stop wait
    ASSERT_EQ(owner.RestartSender(), 1);
    owner.AddTask(Frame(CMD_EDOG_PACKET, 1));
    ASSERT_TRUE(WaitUntil([&] { return owner.WriteCount() == 1; }, kPromptMs));
    const Stopwatch stopping;
    EXPECT_EQ(owner.StopSender(), 1);
    // A sender that slept through the stop would be abandoned after the stop wait, which is traced.
    EXPECT_FALSE(trace.Contains(L"did not stop")) << "the stop took " << stopping.Ms() << " ms";
    EXPECT_FALSE(owner.IsRunning());
    EXPECT_EQ(owner.TaskCount(), 0);
    // Frames queued while stopped wait unsent.
    owner.AddTask(Frame(CMD_EDOG_PACKET, 2));
    EXPECT_TRUE(NeverWithin([&] { return owner.WriteCount() > 1; }, 200));
    EXPECT_EQ(owner.TaskCount(), 1);
}

TEST(TaskManagerTest, RestartAndStartBeginWithAnEmptyQueue) {
    TraceCapture trace;
    FakeOwner owner;
    owner.AddTask(Frame(CMD_EDOG_START));
    ASSERT_EQ(owner.RestartSender(), 1);
    EXPECT_EQ(owner.TaskCount(), 0);
    const uint32_t first = owner.GetThreadId();
    wchar_t line[64];
    std::swprintf(line, 64, L"[CTaskManager]Thread:0x%x\r\n", first);
    EXPECT_TRUE(trace.Contains(line));
    owner.AddTask(Frame(CMD_PIC_START));
    ASSERT_TRUE(WaitUntil([&] { return owner.WriteCount() == 1; }, kPromptMs));

    size_t written = 1;
    for (auto restart : {&FakeOwner::RestartSender, &FakeOwner::StartSender}) {
        ASSERT_EQ((owner.*restart)(), 1);
        EXPECT_NE(owner.GetThreadId(), first);
        EXPECT_EQ(owner.TaskCount(), 0);  // the unanswered head is gone too
        owner.AddTask(Frame(CMD_RADAR_START));
        ASSERT_TRUE(WaitUntil([&] { return owner.WriteCount() == written + 1; }, kPromptMs));
        ++written;
    }
    EXPECT_EQ(owner.Written(), (Names{"36:00", "41:00", "41:00"}));
    EXPECT_EQ(Count(trace.Text(), L"[CTaskManager]Thread:0x"), 3u);
}

}  // namespace
