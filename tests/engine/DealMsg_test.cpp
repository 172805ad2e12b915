// What each device answer does to the engine: stored versions and settings, messages, queued commands.
#include <gtest/gtest.h>

#include "engine/DealMsg.h"
#include "engine/ImageTable.h"
#include "protocol/IspCodes.h"
#include "protocol/Packet_ISP.h"
#include "base/Trace.h"
#include "engine/Work_BK.h"
#include "support/RecordingWindow.h"
#include "support/TestSupport.h"

using namespace testsupport;

namespace {

CRawString Answer(uint8_t code, const std::vector<uint8_t>& payload) {
    CPacket_ISP frame;
    frame.Pack(code, payload.data(), static_cast<uint16_t>(payload.size()));
    return frame.Frame();
}

class DealMsgTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetTraceFile(nullptr);
        // A sender on the closed port: it "writes" each head, so the head is in flight as on a line.
        engine_.RestartSender();
        engine_.ResetRunRecord();  // as a run's start does
        engine_.SetNotifyWindow(&window_);
    }
    void TearDown() override {
        engine_.SetNotifyWindow(nullptr);
        engine_.StopSender();
        SetTraceFile(stdout);
    }
    void Deal(uint8_t code, const std::vector<uint8_t>& payload) { CDealMsg::Instance()->Deal(Answer(code, payload)); }
    // Queues a frame with this command; one that becomes the head is waited for until the sender
    // has written it, so it is in flight.
    void InFlight(uint8_t cmd) {
        CPacket_ISP frame;
        const uint8_t byte = 0x5A;
        frame.Pack(cmd, &byte, 1);
        if (!engine_.AddTask(frame) || engine_.TaskCount() != 1) return;
        ASSERT_TRUE(WaitUntil([&] { return engine_.HeadInFlight() == cmd; }, 2000)) << "sender never wrote " << int(cmd);
    }

    std::vector<EngineMessage> MessagesOf(uint32_t message) const {
        std::vector<EngineMessage> some;
        for (const EngineMessage& m : window_.Messages())
            if (m.message == message) some.push_back(m);
        return some;
    }

    CWork_BK& engine_ = *CWork_BK::Instance();
    RecordingWindow window_;
};

TEST_F(DealMsgTest, DeviceInformationStoresVersionsAnnouncesReadyAndAsksForSettings) {
    // With no request in flight (a late copy of the probe's answer) it changes nothing.
    Deal(ANS_DEVICE_INFO, {CMD_DEVICE_INFO, 3, 0x00, 0x0D, 0x01, 0x00, 0x1A, 0x2B});
    EXPECT_TRUE(window_.Messages().empty());
    EXPECT_EQ(engine_.TaskCount(), 0);
    TraceCapture trace;
    InFlight(CMD_DEVICE_INFO);
    // 0x46 answers the request whatever command byte it echoes.
    Deal(ANS_DEVICE_INFO, {0x00, 3, 0x00, 0x0C, 0x01, 0x00, 0x1A, 0x2B});
    EXPECT_TRUE(trace.Contains(L"echoes 00 instead of 45"));
    EXPECT_EQ(engine_.DeviceFirmwareVersion(), L"0012");
    EXPECT_EQ(engine_.DeviceDataVersion(), L"0256");
    EXPECT_EQ(engine_.DeviceRadarVersion(), L"1a2b");
    EXPECT_EQ(window_.Messages(), (std::vector<EngineMessage>{{WM_ENGINE_READY, 0, 0}}));
    EXPECT_EQ(engine_.TaskCount(), 2);  // 'G' and 'I'
    EXPECT_TRUE(trace.Contains(L"cmd == 46\r\n"));
    EXPECT_TRUE(trace.Contains(L"Port Num == 3\r\n"));
}

// A packet result counts for the packet in flight; with none in flight it fails the image being
// sent (the device answered more often than asked, or refused a packet) and is ignored otherwise.
TEST_F(DealMsgTest, PacketResultsCountOnlyForThePacketInFlight) {
    enum Outcome { Counted, Ignored, Surplus, Refusal };
    struct Row {
        uint8_t inFlight;  // 0: nothing
        int sending;       // the image being sent
        uint8_t code;
        std::vector<uint8_t> payload;
        Outcome outcome;
    };
    const std::vector<Row> rows = {
        {CMD_FIRMWARE_DATA, StepProject, ANS_ACK, {CMD_FIRMWARE_DATA, 2}, Counted},
        {CMD_EDOG_PACKET, StepEDog, ANS_EDOG_RESULT, {CMD_EDOG_PACKET, 1}, Counted},
        {CMD_MUSIC_PACKET, StepMusic, ANS_MUSIC_RESULT, {CMD_MUSIC_PACKET, 1}, Counted},
        {CMD_PIC_PACKET, StepPic, ANS_PIC_RESULT, {CMD_PIC_PACKET, 1}, Counted},
        {CMD_RADAR_PACKET, StepRadar, ANS_RADAR_RESULT, {CMD_RADAR_PACKET, 0}, Counted},  // status not examined
        {CMD_RADAR_PACKET, StepRadar, ANS_RADAR_RESULT, {CMD_RADAR_PACKET, 9}, Counted},
        {CMD_EDOG_PACKET, StepEDog, ANS_EDOG_RESULT, {CMD_EDOG_PACKET, 0}, Refusal},
        // Another image's results, during this one or between runs: strays.
        {CMD_EDOG_PACKET, StepEDog, ANS_MUSIC_RESULT, {CMD_MUSIC_PACKET, 1}, Ignored},
        {CMD_EDOG_PACKET, StepEDog, ANS_ACK, {CMD_FIRMWARE_DATA, 2}, Ignored},
        {CMD_EDOG_PACKET, StepEDog, ANS_MUSIC_RESULT, {CMD_MUSIC_PACKET, 0}, Ignored},
        {0, StepNone, ANS_EDOG_RESULT, {CMD_EDOG_PACKET, 1}, Ignored},
        // The image's own kind with no packet awaited: another command in flight (the firmware end,
        // the settings write), or nothing (the settle after an end command the device never answers).
        {CMD_WRITE_SETTINGS, StepEDog, ANS_EDOG_RESULT, {CMD_EDOG_PACKET, 1}, Surplus},
        {0, StepPic, ANS_PIC_RESULT, {CMD_PIC_PACKET, 1}, Surplus},
        {CMD_FIRMWARE_END, StepProject, ANS_ACK, {CMD_FIRMWARE_DATA, 2}, Surplus},
        {0, StepRadar, ANS_RADAR_RESULT, {CMD_RADAR_PACKET, 1}, Surplus},
        {0, StepMusic, ANS_MUSIC_RESULT, {CMD_MUSIC_PACKET, 0}, Refusal},
        {CMD_FIRMWARE_END, StepProject, ANS_ACK, {CMD_FIRMWARE_DATA, 4}, Refusal},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << "answer " << std::hex << int(row.code) << " status " << int(row.payload[1])
                                        << " in flight " << int(row.inFlight));
        engine_.ClearTasks();
        engine_.ResetRunRecord();
        window_.Clear();
        engine_.SetSendingStep(row.sending);
        engine_.SelectStep(row.sending);
        const int step = StepOfCommand(row.payload[0]);
        if (row.inFlight != 0) InFlight(row.inFlight);
        const int queued = engine_.TaskCount();
        Deal(row.code, row.payload);
        EXPECT_EQ(engine_.AcceptedPackets(step), row.outcome == Counted ? 1 : 0);
        const bool failed = row.outcome == Surplus || row.outcome == Refusal;
        EXPECT_EQ(engine_.RunFailed(), failed ? 1 : 0);
        if (row.outcome == Surplus) {
            EXPECT_EQ(engine_.FailureReason(), L"устройство ответило больше раз, чем его спросили");
        }
        if (row.outcome == Refusal) {
            EXPECT_EQ(engine_.FailureReason().rfind(L"устройство отклонило пакет (код ", 0), 0u);
        }
        if (failed) {
            EXPECT_EQ(MessagesOf(WM_ENGINE_STEP_END),
                      (std::vector<EngineMessage>{{WM_ENGINE_STEP_END, static_cast<NotifyWParam>(row.sending), 1},
                                                  {WM_ENGINE_STEP_END, StepFinished, 1}}));
        }
        if (row.outcome == Ignored) {
            EXPECT_EQ(engine_.TaskCount(), queued) << "a stray acknowledged something";
        }
    }
}

TEST_F(DealMsgTest, SettingsAnswersFillTheirBlocks) {
    std::vector<uint8_t> device(SETTINGS_BLOCK_SIZE), info(SETTINGS_BLOCK_SIZE), other(SETTINGS_BLOCK_SIZE, 0x77);
    for (int i = 0; i < SETTINGS_BLOCK_SIZE; ++i) {
        device[i] = static_cast<uint8_t>(i + 1);
        info[i] = static_cast<uint8_t>(200 - i);
    }
    auto with = [](uint8_t which, const std::vector<uint8_t>& block) {
        std::vector<uint8_t> payload = {which};
        payload.insert(payload.end(), block.begin(), block.end());
        return payload;
    };
    SettingsBlock edited;
    edited.fill(0xE1);
    engine_.SetSettingsBlock(edited.data());
    InFlight(CMD_READ_SETTINGS);
    Deal(ANS_SETTINGS, with(CMD_READ_SETTINGS, device));
    InFlight(CMD_READ_SETTINGS_INFO);
    Deal(ANS_SETTINGS, with(CMD_READ_SETTINGS_INFO, info));
    EXPECT_TRUE(engine_.DeviceSettingsKnown());
    // Answers of the wrong size are refused and say so (wParam 1); nothing stored, the read answered.
    std::vector<uint8_t> longer = device;
    longer.push_back(0x99);
    for (const std::vector<uint8_t>& block : {std::vector<uint8_t>(10, 0x55), std::vector<uint8_t>{}, longer}) {
        InFlight(CMD_READ_SETTINGS);
        Deal(ANS_SETTINGS, with(CMD_READ_SETTINGS, block));
        EXPECT_EQ(engine_.TaskCount(), 0);
    }
    // Reads that are not in flight: a stray block, another read's answer.
    Deal(ANS_SETTINGS, with('X', other));
    Deal(ANS_SETTINGS, with(CMD_READ_SETTINGS, other));
    InFlight(CMD_READ_SETTINGS_INFO);
    Deal(ANS_SETTINGS, with(CMD_READ_SETTINGS, other));
    EXPECT_EQ(engine_.TaskCount(), 1);
    uint8_t got[SETTINGS_BLOCK_SIZE];
    engine_.GetSettingsBlock(got);
    EXPECT_EQ(std::vector<uint8_t>(got, got + SETTINGS_BLOCK_SIZE), device);
    engine_.GetSettingsInfoBlock(got);
    EXPECT_EQ(std::vector<uint8_t>(got, got + SETTINGS_BLOCK_SIZE), info);
    EXPECT_EQ(MessagesOf(WM_ENGINE_SETTINGS), (std::vector<EngineMessage>{{WM_ENGINE_SETTINGS, 0, 0},
                                                                            {WM_ENGINE_SETTINGS, 0, 0},
                                                                            {WM_ENGINE_SETTINGS, 1, 0},
                                                                            {WM_ENGINE_SETTINGS, 1, 0},
                                                                            {WM_ENGINE_SETTINGS, 1, 0}}));
    // The edited block waiting to be written is not the device's block.
    engine_.GetSettingsToWrite(got);
    EXPECT_EQ(std::vector<uint8_t>(got, got + SETTINGS_BLOCK_SIZE), std::vector<uint8_t>(edited.begin(), edited.end()));
}

TEST_F(DealMsgTest, FirmwareEndOutsideARunEndsTheStepWithoutPause) {
    ASSERT_EQ(engine_.RunActive(), 0);
    engine_.SelectStep(StepProject);
    InFlight(CMD_FIRMWARE_END);
    // A pause far longer than the bound below, so that no build is slow enough to hide one.
    const EngineOptions saved = engine_.Options();
    EngineOptions longPause = saved;
    longPause.firmwarePauseMs = 60000;
    engine_.SetOptions(longPause);
    const Stopwatch dealing;
    Deal(ANS_ACK, {CMD_FIRMWARE_END, 2});
    const long long took = dealing.Ms();
    engine_.SetOptions(saved);
    EXPECT_LT(took, ScaledMs(2000)) << "the answer took " << took << " ms to handle";
    // Nor is the countdown of a pause shown.
    EXPECT_EQ(window_.Messages(), (std::vector<EngineMessage>{{WM_ENGINE_STEP_END, 1, 0}}));
    EXPECT_EQ(engine_.FirmwareEndStatus(), 2);
    // A repeated confirmation, once the end command has left the queue, ends nothing a second time.
    engine_.ClearTasks();
    Deal(ANS_ACK, {CMD_FIRMWARE_END, 2});
    EXPECT_EQ(window_.Count(WM_ENGINE_STEP_END), 1);
}

// Only the device's explicit refusals (3 to 9) fail the firmware end; any other status ends the
// firmware, and the status is kept for the summary.
TEST_F(DealMsgTest, TheFirmwareEndFailsOnlyForTheDeviceRefusals) {
    for (const int status : {0, 1, 2, 3, 5, 9, 10, 0x5A, 255}) {
        SCOPED_TRACE(status);
        engine_.ResetRunRecord();
        window_.Clear();
        engine_.SelectStep(StepProject);
        InFlight(CMD_FIRMWARE_END);
        TraceCapture trace;
        Deal(ANS_ACK, {CMD_FIRMWARE_END, static_cast<uint8_t>(status)});
        const bool refused = status >= 3 && status <= 9;
        EXPECT_EQ(engine_.RunFailed(), refused ? 1 : 0);
        EXPECT_EQ(MessagesOf(WM_ENGINE_STEP_END).front(), (EngineMessage{WM_ENGINE_STEP_END, StepProject, refused ? 1 : 0}));
        EXPECT_EQ(engine_.FirmwareEndStatus(), refused ? -1 : status);
        EXPECT_EQ(engine_.ImageClosed(StepProject), !refused);
        if (!refused) {
            EXPECT_TRUE(trace.Contains(L"firmware end confirmed with status " + std::to_wstring(status) + L"\r\n"));
        }
        engine_.ClearTasks();
    }
}

TEST_F(DealMsgTest, SettingsWrittenEndsTheSettingsStepThenTheRun) {
    SettingsBlock edited;
    edited.fill(0x3C);
    engine_.SetSettingsBlock(edited.data());
    // Not asked for (instead of a packet's answer, in the firmware pause): it ends nothing.
    for (uint8_t inFlight : {uint8_t{0}, CMD_EDOG_PACKET}) {
        if (inFlight != 0) InFlight(inFlight);
        Deal(ANS_SETTINGS_WRITTEN, {CMD_WRITE_SETTINGS, 1});
        EXPECT_TRUE(window_.Messages().empty());
    }
    engine_.ClearTasks();
    InFlight(CMD_WRITE_SETTINGS);
    Deal(ANS_SETTINGS_WRITTEN, {CMD_WRITE_SETTINGS, 0});  // the status byte is not examined
    EXPECT_EQ(window_.Messages(),
              (std::vector<EngineMessage>{{WM_ENGINE_STEP_END, 6, 0}, {WM_ENGINE_STEP_END, 7, 0}}));
    EXPECT_EQ(engine_.CurrentStep(), StepFinished);
    // The device now holds what was written.
    SettingsBlock device{};
    engine_.GetSettingsBlock(device.data());
    EXPECT_EQ(device, edited);
}

TEST_F(DealMsgTest, ARefusalEndsTheRunAtOnceWithTheDeviceText) {
    struct Row {
        uint8_t code;
        uint8_t refused;  // byte 4
        uint8_t status;   // byte 5
        int step;
        std::wstring reason;
    };
    const std::wstring packet = L"устройство отклонило пакет ";
    const std::vector<Row> rows = {
        {ANS_ACK, CMD_FIRMWARE_DATA, 3, StepProject, packet + L"(код 3): 命令无效，请重试! — недопустимая команда, повторите попытку"},
        {ANS_ACK, CMD_FIRMWARE_DATA, 4, StepProject, packet + L"(код 4): Flash 硬件忙! — флеш-память занята"},
        {ANS_ACK, CMD_FIRMWARE_DATA, 5, StepProject, packet + L"(код 5): Flash 读保护! — флеш-память защищена от чтения"},
        {ANS_ACK, CMD_FIRMWARE_DATA, 6, StepProject, packet + L"(код 6): Flash 写保护! — флеш-память защищена от записи"},
        {ANS_ACK, CMD_FIRMWARE_DATA, 7, StepProject,
         packet + L"(код 7): 参数不足或错误! — параметров недостаточно или они неверны"},
        {ANS_ACK, CMD_FIRMWARE_END, 8, StepProject,
         L"устройство отклонило завершение прошивки (код 8): 目标地址边界错误! — адрес назначения вне допустимых границ"},
        {ANS_ACK, CMD_EDOG_START, 3, StepEDog,
         L"устройство отклонило начало передачи (код 3): 命令无效，请重试! — недопустимая команда, повторите попытку"},
        {ANS_EDOG_RESULT, CMD_EDOG_PACKET, 9, StepEDog,
         packet + L"(код 9): 源地址边界错误! — адрес источника вне допустимых границ"},
        {ANS_EDOG_RESULT, CMD_EDOG_PACKET, 0, StepEDog, packet + L"(код 0): MCU 参数错误! — ошибка параметров микроконтроллера"},
        {ANS_MUSIC_RESULT, CMD_MUSIC_PACKET, 2, StepMusic, packet + L"(код 2): MCU 参数错误! — ошибка параметров микроконтроллера"},
        {ANS_PIC_RESULT, CMD_PIC_PACKET, 255, StepPic, packet + L"(код 255): MCU 参数错误! — ошибка параметров микроконтроллера"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << "answer " << std::hex << int(row.code) << " to " << int(row.refused)
                                        << " status " << std::dec << int(row.status));
        window_.Clear();
        engine_.ResetRunRecord();
        InFlight(row.refused);
        InFlight(row.refused);  // the rest of the image, which must not be sent
        Deal(row.code, {row.refused, row.status});
        EXPECT_EQ(window_.Messages(),
                  (std::vector<EngineMessage>{{WM_ENGINE_STEP_END, static_cast<NotifyWParam>(row.step), 1},
                                              {WM_ENGINE_STEP_END, StepFinished, 1}}));
        EXPECT_EQ(engine_.TaskCount(), 0);
        EXPECT_EQ(engine_.FailureReason(), row.reason);
        EXPECT_EQ(engine_.RunActive(), 0);
        // A job still queueing packets of the failed run queues nothing more, and a late ready
        // answer starts nothing.
        InFlight(row.refused);
        Deal(ANS_EDOG_READY, {});
        EXPECT_EQ(engine_.TaskCount(), 0);
        EXPECT_FALSE(engine_.JobPosted(StepEDog));
        EXPECT_EQ(window_.Messages().size(), 2u);
    }
    // A refusal of a command that is not in flight (a late copy) changes nothing.
    engine_.ResetRunRecord();
    window_.Clear();
    InFlight(CMD_EDOG_PACKET);
    Deal(ANS_ACK, {CMD_FIRMWARE_DATA, 6});
    Deal(ANS_MUSIC_RESULT, {CMD_MUSIC_PACKET, 0});
    EXPECT_EQ(engine_.TaskCount(), 1);
    EXPECT_TRUE(window_.Messages().empty());
}

// The pictures and the radar may already be selected and announced by the end of the image before
// them; their first ready answer must still post the job, a repeat of it must not.
TEST_F(DealMsgTest, AReadyAnswerPostsItsJobOncePerRun) {
    const std::vector<std::pair<uint8_t, int>> rows = {{ANS_FIRMWARE_READY, StepProject}, {ANS_EDOG_READY, StepEDog},
                                                       {ANS_MUSIC_READY, StepMusic},      {ANS_PIC_READY, StepPic},
                                                       {ANS_RADAR_READY, StepRadar}};
    for (const auto& [code, step] : rows) {
        SCOPED_TRACE(testing::Message() << "ready " << std::hex << int(code));
        window_.Clear();
        const bool announced = step == StepPic || step == StepRadar;
        if (announced) {
            engine_.SelectStep(step);
            engine_.NotifyStepBegin();
        }
        EXPECT_FALSE(engine_.JobPosted(step));
        InFlight(ImageByStep(step)->startCmd);
        if (step == StepProject) Deal(ANS_FIRMWARE_START_SEEN, {});  // the start stays in flight
        Deal(code, {});
        EXPECT_TRUE(engine_.JobPosted(step));
        EXPECT_EQ(engine_.SendingStep(), step);
        InFlight(CMD_EDOG_PACKET);  // the packets the job queued
        TraceCapture trace;
        Deal(code, {});
        EXPECT_EQ(engine_.TaskCount(), 1) << "the queued packets were dropped";
        EXPECT_EQ(window_.Count(WM_ENGINE_STEP_BEGIN), announced ? 2 : 1);
        EXPECT_TRUE(trace.Contains(L"answers no command in flight (23); ignored")) << "the repeat is not traced";
        // Even with its start in flight again, a second ready answer in one run posts no second job.
        engine_.ClearTasks();
        InFlight(ImageByStep(step)->startCmd);
        Deal(code, {});
        EXPECT_TRUE(trace.Contains(L"already queued; ignored"));
        engine_.ClearTasks();
    }
    // A late "firmware start seen" no longer empties the queue under the firmware packets either.
    InFlight(CMD_FIRMWARE_DATA);
    Deal(ANS_FIRMWARE_START_SEEN, {});
    EXPECT_EQ(engine_.TaskCount(), 1);
}

TEST_F(DealMsgTest, ReadyAnswersSelectAndAnnounceTheirStep) {
    const std::vector<std::pair<uint8_t, int>> rows = {{ANS_FIRMWARE_READY, StepProject}, {ANS_EDOG_READY, StepEDog},
                                                       {ANS_MUSIC_READY, StepMusic},      {ANS_PIC_READY, StepPic},
                                                       {ANS_RADAR_READY, StepRadar}};
    for (const auto& [code, step] : rows) {
        window_.Clear();
        // Another image's start in flight: the answer switches nothing.
        const uint8_t other = ImageByStep(step == StepRadar ? StepEDog : StepRadar)->startCmd;
        InFlight(other);
        Deal(code, {});
        EXPECT_EQ(engine_.HeadInFlight(), other);
        EXPECT_TRUE(window_.Messages().empty());
        EXPECT_FALSE(engine_.JobPosted(step));
        engine_.ClearTasks();
        InFlight(ImageByStep(step)->startCmd);
        CDealMsg::Instance()->ReadSettings();  // queued behind it; the ready answer clears it
        Deal(code, {});
        EXPECT_EQ(engine_.TaskCount(), 0);
        EXPECT_EQ(engine_.CurrentStep(), step);
        EXPECT_EQ(window_.Messages(),
                  (std::vector<EngineMessage>{{WM_ENGINE_STEP_BEGIN, static_cast<NotifyWParam>(step), 0}}));
    }
}

TEST_F(DealMsgTest, NoticesAndIgnoredAnswers) {
    InFlight(CMD_READ_SETTINGS);
    TraceCapture trace;
    Deal(ANS_DEVICE_NOTICE, {});
    // The queue was emptied, then the notice acknowledged (which the device never answers).
    EXPECT_TRUE(WaitUntil([&] { return trace.Contains(L"[CMD 0D 0D"); }, 2000));
    EXPECT_EQ(engine_.TaskCount(), 0);
    InFlight(CMD_FIRMWARE_DATA);
    Deal(ANS_FIRMWARE_START_SEEN, {});
    EXPECT_EQ(engine_.TaskCount(), 1);
    engine_.ClearTasks();
    for (uint8_t code : {ANS_IGNORED, uint8_t{0x50}, uint8_t{0x01}}) Deal(code, {1, 2});
    Deal(ANS_ACK, {0x77, 2});
    EXPECT_TRUE(window_.Messages().empty());
}

TEST_F(DealMsgTest, StatusTextsAndTheFlag) {
    CDealMsg& driver = *CDealMsg::Instance();
    const std::vector<std::pair<uint8_t, std::wstring>> rows = {
        {3, L"命令无效，请重试!\n"},  {4, L"Flash 硬件忙!\n"},     {5, L"Flash 读保护!\n"},
        {6, L"Flash 写保护!\n"},      {7, L"参数不足或错误!\n"},   {8, L"目标地址边界错误!\n"},
        {9, L"源地址边界错误!\n"},    {2, L"MCU 参数错误!\n"},     {10, L"MCU 参数错误!\n"},
        {0, L"MCU 参数错误!\n"},      {255, L"MCU 参数错误!\n"}};
    for (const auto& [code, text] : rows) {
        driver.SetFlag(1);
        EXPECT_EQ(driver.GetErrorText(code), text) << int(code);
        EXPECT_EQ(driver.GetFlag(), 0);
    }
    EXPECT_EQ(driver.GetMode(), 2);
    driver.SetMode(5);
    EXPECT_EQ(driver.GetMode(), 5);
}

TEST_F(DealMsgTest, StepRecordAndNotifications) {
    engine_.SelectStep(StepSettings);
    EXPECT_EQ(engine_.StepTotal(), 1);
    for (int i = 0; i < 3; ++i) engine_.NotifyPacketSent();
    // Never past the step's total: one packet of one.
    EXPECT_EQ(window_.Messages(), (std::vector<EngineMessage>{{WM_ENGINE_PACKET, 1, 1}}));
    engine_.SelectStep(StepFinished);
    EXPECT_EQ(engine_.StepTotal(), 0);
    engine_.SelectStep(StepEDog);  // no image loaded: nothing to count
    engine_.NotifyPacketSent();
    EXPECT_EQ(engine_.StepSent(), 0);
    // Without a window nothing is sent and nothing counted.
    engine_.SelectStep(StepSettings);
    engine_.SetNotifyWindow(nullptr);
    engine_.NotifyPacketSent();
    EXPECT_EQ(engine_.StepSent(), 0);
    engine_.NotifyStepEnd(4);
    EXPECT_EQ(engine_.StepResult(), 4);
    EXPECT_EQ(window_.Messages().size(), 1u);
}

}  // namespace
