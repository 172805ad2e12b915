// What each device answer does to the engine: stored versions and settings, messages, queued commands.
#include <gtest/gtest.h>

#include <chrono>

#include "engine/DealMsg.h"
#include "engine/IspCodes.h"
#include "engine/Packet_ISP.h"
#include "engine/Trace.h"
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
        engine_.SetNotifyWindow(&window_);
    }
    void TearDown() override {
        engine_.SetNotifyWindow(nullptr);
        engine_.ClearTasks();
        SetTraceFile(stdout);
    }
    void Deal(uint8_t code, const std::vector<uint8_t>& payload) { CDealMsg::Instance()->Deal(Answer(code, payload)); }

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
}

TEST_F(DealMsgTest, FirmwareEndOutsideARunEndsTheStepWithoutPause) {
    ASSERT_EQ(engine_.RunActive(), 0);
    engine_.SelectStep(StepProject);
    const auto start = std::chrono::steady_clock::now();
    Deal(ANS_ACK, {CMD_FIRMWARE_END, 2});
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    EXPECT_EQ(window_.Messages(), (std::vector<EngineMessage>{{WM_ENGINE_STEP_END, 1, 0}}));
    EXPECT_EQ(engine_.TaskCount(), 0);
}

TEST_F(DealMsgTest, SettingsWrittenEndsTheSettingsStepThenTheRun) {
    Deal(ANS_SETTINGS_WRITTEN, {CMD_WRITE_SETTINGS, 0});
    EXPECT_EQ(window_.Messages(),
              (std::vector<EngineMessage>{{WM_ENGINE_STEP_END, 6, 0}, {WM_ENGINE_STEP_END, 7, 0}}));
    EXPECT_EQ(engine_.CurrentStep(), StepFinished);
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
