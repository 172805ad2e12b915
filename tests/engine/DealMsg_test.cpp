// What each device answer does to the engine: stored versions and settings, messages, queued commands.
#include <gtest/gtest.h>

#include "engine/DealMsg.h"
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
        engine_.ClearTasks();
        engine_.ResetRunRecord();  // as a run's start does
        engine_.SetNotifyWindow(&window_);
    }
    void TearDown() override {
        engine_.SetNotifyWindow(nullptr);
        engine_.ClearTasks();
        SetTraceFile(stdout);
    }
    void Deal(uint8_t code, const std::vector<uint8_t>& payload) { CDealMsg::Instance()->Deal(Answer(code, payload)); }
    // Puts a frame with this command at the head of the queue, as if it were in flight.
    void InFlight(uint8_t cmd) {
        CPacket_ISP frame;
        const uint8_t byte = 0x5A;
        frame.Pack(cmd, &byte, 1);
        engine_.AddTask(frame);
    }

    CWork_BK& engine_ = *CWork_BK::Instance();
    RecordingWindow window_;
};

TEST_F(DealMsgTest, DeviceInformationStoresVersionsAnnouncesReadyAndAsksForSettings) {
    TraceCapture trace;
    Deal(ANS_DEVICE_INFO, {CMD_DEVICE_INFO, 3, 0x00, 0x0C, 0x01, 0x00, 0x1A, 0x2B});
    EXPECT_EQ(engine_.DeviceFirmwareVersion(), L"0012");
    EXPECT_EQ(engine_.DeviceDataVersion(), L"0256");
    EXPECT_EQ(engine_.DeviceRadarVersion(), L"1a2b");
    EXPECT_EQ(window_.Messages(), (std::vector<EngineMessage>{{WM_ENGINE_READY, 0, 0}}));
    EXPECT_EQ(engine_.TaskCount(), 2);  // 'G' and 'I'
    EXPECT_TRUE(trace.Contains(L"cmd == 46\r\n"));
    EXPECT_TRUE(trace.Contains(L"Port Num == 3\r\n"));
}

TEST_F(DealMsgTest, PacketResultsCountOnlyWhenAccepted) {
    engine_.SelectStep(StepEDog);
    struct Row {
        uint8_t code;
        std::vector<uint8_t> payload;
        bool counts;
    };
    const std::vector<Row> rows = {
        {ANS_ACK, {CMD_FIRMWARE_DATA, 3}, false},   {ANS_ACK, {CMD_FIRMWARE_DATA, 2}, true},
        {ANS_EDOG_RESULT, {CMD_EDOG_PACKET, 0}, false}, {ANS_EDOG_RESULT, {CMD_EDOG_PACKET, 1}, true},
        {ANS_MUSIC_RESULT, {CMD_MUSIC_PACKET, 2}, false}, {ANS_MUSIC_RESULT, {CMD_MUSIC_PACKET, 1}, true},
        {ANS_PIC_RESULT, {CMD_PIC_PACKET, 0}, false},   {ANS_PIC_RESULT, {CMD_PIC_PACKET, 1}, true},
        {ANS_RADAR_RESULT, {CMD_RADAR_PACKET, 0}, true},  // the radar's status byte is not examined
        {ANS_RADAR_RESULT, {CMD_RADAR_PACKET, 9}, true},
    };
    int expected = 0;
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << "answer " << std::hex << int(row.code) << " status " << int(row.payload[1]));
        Deal(row.code, row.payload);
        expected += row.counts;
        EXPECT_EQ(window_.Count(WM_ENGINE_PACKET), expected);
        EXPECT_EQ(engine_.StepSent(), expected);
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
    Deal(ANS_SETTINGS, with(CMD_READ_SETTINGS, device));
    Deal(ANS_SETTINGS, with(CMD_READ_SETTINGS_INFO, info));
    Deal(ANS_SETTINGS, with('X', other));                                  // announced, not stored
    Deal(ANS_SETTINGS, {CMD_READ_SETTINGS, 0x55, 0x55});                   // too short to hold a block
    uint8_t got[SETTINGS_BLOCK_SIZE];
    engine_.GetSettingsBlock(got);
    EXPECT_EQ(std::vector<uint8_t>(got, got + SETTINGS_BLOCK_SIZE), device);
    engine_.GetSettingsInfoBlock(got);
    EXPECT_EQ(std::vector<uint8_t>(got, got + SETTINGS_BLOCK_SIZE), info);
    EXPECT_EQ(window_.Count(WM_ENGINE_SETTINGS), 4);
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
    // A repeated confirmation, once the end command has left the queue, ends nothing a second time.
    engine_.ClearTasks();
    Deal(ANS_ACK, {CMD_FIRMWARE_END, 2});
    EXPECT_EQ(window_.Count(WM_ENGINE_STEP_END), 1);
}

TEST_F(DealMsgTest, SettingsWrittenEndsTheSettingsStepThenTheRun) {
    SettingsBlock edited;
    edited.fill(0x3C);
    engine_.SetSettingsBlock(edited.data());
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
        {ANS_ACK, CMD_FIRMWARE_END, 0, StepProject,
         L"устройство отклонило завершение прошивки (код 0): MCU 参数错误! — ошибка параметров микроконтроллера"},
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
        Deal(code, {});
        EXPECT_TRUE(engine_.JobPosted(step));
        InFlight(CMD_EDOG_PACKET);  // the packets the job queued
        TraceCapture trace;
        Deal(code, {});
        EXPECT_EQ(engine_.TaskCount(), 1) << "the queued packets were dropped";
        EXPECT_EQ(window_.Count(WM_ENGINE_STEP_BEGIN), announced ? 2 : 1);
        EXPECT_TRUE(trace.Contains(L"already queued; ignored")) << "the repeat is not traced";
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
        CDealMsg::Instance()->ReadSettings();  // something queued, which the ready answer clears
        Deal(code, {});
        EXPECT_EQ(engine_.TaskCount(), 0);
        EXPECT_EQ(engine_.CurrentStep(), step);
        EXPECT_EQ(window_.Messages(),
                  (std::vector<EngineMessage>{{WM_ENGINE_STEP_BEGIN, static_cast<NotifyWParam>(step), 0}}));
    }
}

TEST_F(DealMsgTest, NoticesAndIgnoredAnswers) {
    CDealMsg::Instance()->ReadSettings();
    Deal(ANS_DEVICE_NOTICE, {});
    EXPECT_EQ(engine_.TaskCount(), 1);  // the queue was emptied, then the notice acknowledged
    Deal(ANS_FIRMWARE_START_SEEN, {});
    EXPECT_EQ(engine_.TaskCount(), 0);
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
    engine_.SelectStep(StepFinished);
    EXPECT_EQ(engine_.StepTotal(), 0);
    engine_.SelectStep(StepEDog);
    for (int i = 0; i < 3; ++i) engine_.NotifyPacketSent();
    const auto messages = window_.Messages();
    ASSERT_EQ(messages.size(), 3u);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(messages[i].lParam, i + 1);
    // Without a window nothing is sent and nothing counted.
    engine_.SetNotifyWindow(nullptr);
    engine_.NotifyPacketSent();
    EXPECT_EQ(engine_.StepSent(), 3);
    engine_.NotifyStepEnd(4);
    EXPECT_EQ(engine_.StepResult(), 4);
    EXPECT_EQ(window_.Messages().size(), 3u);
}

}  // namespace
