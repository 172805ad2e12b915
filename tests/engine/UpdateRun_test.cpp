// Whole update runs: the engine in this process, the device simulator on a pseudo-terminal.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <map>

#include "engine/DealMsg.h"
#include "engine/ImagePlan.h"
#include "engine/ImageTable.h"
#include "protocol/IspCodes.h"
#include "protocol/Packet_ISP.h"
#include "base/Text.h"
#include "base/Trace.h"
#include "transport/PortList.h"
#include "engine/ScanReport.h"
#include "sim/Samples.h"
#include "support/HexText.h"
#include "support/UpdateRunFixture.h"

using namespace testsupport;

namespace {

const std::vector<std::string> kAllImages = {"AC7811_project.hex", "flagdata.bin", "audioHead.bin", "picHead.bin",
                                             "rdfwd.bin"};

// The commands after connecting (the two 'E' frames and the two settings reads).
std::vector<uint8_t> RunCommands(const std::vector<LoggedFrame>& frames) {
    std::vector<uint8_t> all = CommandsReceived(frames);
    size_t skip = 0;
    while (skip < all.size() && (all[skip] == CMD_DEVICE_INFO || all[skip] == CMD_READ_SETTINGS ||
                                 all[skip] == CMD_READ_SETTINGS_INFO))
        ++skip;
    return std::vector<uint8_t>(all.begin() + static_cast<long>(skip), all.end());
}

// The records of an Intel HEX file, read with the test's own reading of its lines.
std::vector<HexRecord> ReadHexRecords(const std::string& path) {
    const std::vector<uint8_t> hex = ReadFile(path);
    return ParseHexText(std::string(hex.begin(), hex.end()));
}

int DataRecords(const std::vector<HexRecord>& records) {
    int count = 0;
    for (const HexRecord& r : records) count += r.type == 0;
    return count;
}

TEST_F(UpdateRunTest, AllFiveImagesArriveIntactInOrder) {
    UseSamples(kAllImages);
    Connect();
    ASSERT_TRUE(RunUpdate());
    const auto frames = StopDevice();

    for (const char* image : {"flagdata.bin", "audioHead.bin", "picHead.bin", "rdfwd.bin"})
        EXPECT_EQ(ReadFile(OutDir() + "/" + image), ReadFile(FilesDir() + image)) << image;

    // The firmware: every data record at its load address; the second type-04 record moves on a segment.
    const std::vector<uint8_t> image = ReadFile(OutDir() + "/firmware.bin");
    const std::string baseText(reinterpret_cast<const char*>(ReadFile(OutDir() + "/firmware.base").data()), 10);
    const uint32_t base = static_cast<uint32_t>(std::stoul(baseText, nullptr, 16));
    const std::vector<HexRecord> records = ReadHexRecords(FilesDir() + "AC7811_project.hex");
    std::string why;
    EXPECT_TRUE(SameMemory(MemoryOf(records), MemoryFromImage(base, image), &why)) << why;
    EXPECT_GT(image.size(), 65536u - (base & 0xFFFF)) << "the sample should cross a 64 KiB segment";

    // The order of a run: firmware, data, audio, pictures, radar, each start - packets - end.
    const std::vector<uint8_t> expected = {CMD_FIRMWARE_START, CMD_FIRMWARE_DATA, CMD_FIRMWARE_END,
                                           CMD_EDOG_START,     CMD_EDOG_PACKET,   CMD_EDOG_END,
                                           CMD_MUSIC_START,    CMD_MUSIC_PACKET,  CMD_MUSIC_END,
                                           CMD_PIC_START,      CMD_PIC_PACKET,    CMD_PIC_END,
                                           CMD_RADAR_START,    CMD_RADAR_PACKET,  CMD_RADAR_END};
    EXPECT_EQ(CommandRuns(RunCommands(frames)), expected);

    // Step messages: begin and end of steps 1..5 in order, then the end of the run.
    std::vector<std::pair<uint32_t, NotifyWParam>> steps;
    for (const EngineMessage& m : window_.Messages())
        if (m.message == WM_ENGINE_STEP_BEGIN || m.message == WM_ENGINE_STEP_END) {
            const auto step = std::make_pair(m.message, m.wParam);
            if (steps.empty() || steps.back() != step) steps.push_back(step);
        }
    const std::vector<std::pair<uint32_t, NotifyWParam>> expectedSteps = {
        {WM_ENGINE_STEP_BEGIN, 1}, {WM_ENGINE_STEP_END, 1}, {WM_ENGINE_STEP_BEGIN, 2}, {WM_ENGINE_STEP_END, 2},
        {WM_ENGINE_STEP_BEGIN, 3}, {WM_ENGINE_STEP_END, 3}, {WM_ENGINE_STEP_BEGIN, 4}, {WM_ENGINE_STEP_END, 4},
        {WM_ENGINE_STEP_BEGIN, 5}, {WM_ENGINE_STEP_END, 5}, {WM_ENGINE_STEP_END, 7}};
    EXPECT_EQ(steps, expectedSteps);
    for (const EngineMessage& m : MessagesOf(WM_ENGINE_STEP_END)) EXPECT_EQ(m.lParam, 0);

    // Progress counts up to the step totals, which count the packets sent (the firmware's data records).
    const int dataRecords = DataRecords(records);
    std::map<NotifyWParam, NotifyLParam> totals;
    int step = 0;
    std::map<int, NotifyLParam> lastSent;
    for (const EngineMessage& m : window_.Messages()) {
        if (m.message == WM_ENGINE_STEP_BEGIN) {
            step = static_cast<int>(m.wParam);
            totals[m.wParam] = m.lParam;
        }
        if (m.message == WM_ENGINE_PACKET) {
            EXPECT_EQ(m.wParam, static_cast<NotifyWParam>(totals[static_cast<NotifyWParam>(step)]));
            EXPECT_EQ(m.lParam, lastSent[step] + 1);
            lastSent[step] = m.lParam;
        }
    }
    EXPECT_EQ(totals[1], dataRecords);
    EXPECT_LT(dataRecords, static_cast<int>(records.size()));
    for (int s = 1; s <= 5; ++s) EXPECT_EQ(lastSent[s], totals[static_cast<NotifyWParam>(s)]) << "step " << s;
}

// Each row of the image table against the operations named after its image, on the sample images the
// engine loaded: the named start, packets and end queue the row's codes, the named packet count is the
// generic one, and the row's ready and result answers act for its step.
TEST_F(UpdateRunTest, TheImageTableAndTheNamedOperationsAgree) {
    UseSamples(kAllImages);
    Connect();
    // The device goes away: from here on every frame is written to a dead line and stays queued and in
    // flight, so each operation's frames can be looked at and answered by hand.
    EXPECT_EQ(sim_->Stop(), 0);
    ASSERT_TRUE(WaitUntil([&] { return !engine_.Port().IsOpen(); }, 2000));
    engine_.RestartSender();
    CDealMsg& driver = *CDealMsg::Instance();
    auto deal = [&](uint8_t code, std::vector<uint8_t> payload) {
        CPacket_ISP frame;
        frame.Pack(code, payload.data(), static_cast<uint16_t>(payload.size()));
        driver.Deal(frame.Frame());
    };
    struct Named {
        int step;
        void (CDealMsg::*start)();
        int (CDealMsg::*packets)();
        void (CDealMsg::*end)();
        int (CWork_BK::*count)() const;
    };
    const std::vector<Named> named = {
        {StepProject, &CDealMsg::SendProjectStart, &CDealMsg::SendProjectPackets, &CDealMsg::SendProjectEnd,
         &CWork_BK::ProjectPacketCount},
        {StepEDog, &CDealMsg::SendEDogStart, &CDealMsg::SendEDogPackets, &CDealMsg::SendEDogEnd,
         &CWork_BK::EDogPacketCount},
        {StepMusic, &CDealMsg::SendMusicStart, &CDealMsg::SendMusicPackets, &CDealMsg::SendMusicEnd,
         &CWork_BK::MusicPacketCount},
        {StepPic, &CDealMsg::SendPicStart, &CDealMsg::SendPicPackets, &CDealMsg::SendPicEnd, &CWork_BK::PicPacketCount},
        {StepRadar, &CDealMsg::SendRadarStart, &CDealMsg::SendRadarPackets, &CDealMsg::SendRadarEnd,
         &CWork_BK::RadarPacketCount},
    };
    for (const Named& n : named) {
        ASSERT_NE(ImageByStep(n.step), nullptr) << "step " << n.step;
        const ImageRow& row = *ImageByStep(n.step);
        SCOPED_TRACE(WideToUtf8(row.fileName));
        EXPECT_EQ((engine_.*n.count)(), engine_.PacketCount(n.step));
        // The frames that go out: every packet (the firmware's data records), then the end command.
        const int frames = PlanImage(row, *engine_.Image(n.step)).packets + 1;
        EXPECT_GT(frames, 2);

        // Each frame is waited for until the sender has written it: a wake-up still pending when the
        // queue is emptied would find the next frame at the head and write it twice, the second time
        // as its last.
        engine_.ClearTasks();
        (driver.*n.start)();
        EXPECT_EQ(engine_.HeadCommand(), row.startCmd);
        EXPECT_EQ(engine_.TaskCount(), 1);
        ASSERT_TRUE(WaitUntil([&] { return engine_.HeadInFlight() == row.startCmd; }, 2000));
        engine_.ClearTasks();
        (driver.*n.end)();
        EXPECT_EQ(engine_.HeadCommand(), row.endCmd);
        EXPECT_EQ(engine_.TaskCount(), 1);
        // On the dead line no write succeeds, so not even an end command the device never answers is
        // acknowledged: it stays in flight.
        ASSERT_TRUE(WaitUntil([&] { return engine_.HeadInFlight() == row.endCmd; }, 2000));
        engine_.ClearTasks();
        EXPECT_EQ((driver.*n.packets)(), 1);
        EXPECT_EQ(engine_.HeadCommand(), row.packetCmd);
        EXPECT_EQ(engine_.TaskCount(), frames);

        // The ready answer selects and announces the row's step, and its job queues the same frames.
        engine_.ClearTasks();
        engine_.ResetRunRecord();
        (driver.*n.start)();
        ASSERT_TRUE(WaitUntil([&] { return engine_.HeadInFlight() == row.startCmd; }, 2000));
        window_.Clear();
        deal(row.readyAnswer, {});
        EXPECT_EQ(engine_.CurrentStep(), n.step);
        EXPECT_EQ(engine_.PacketsToSend(n.step), frames - 1);
        EXPECT_EQ(window_.Messages(), (std::vector<EngineMessage>{{WM_ENGINE_STEP_BEGIN, static_cast<NotifyWParam>(n.step),
                                                                   frames - 1}}));
        ASSERT_TRUE(WaitUntil([&] { return engine_.TaskCount() == frames; }, 5000)) << engine_.TaskCount();
        ASSERT_TRUE(WaitUntil([&] { return engine_.HeadInFlight() == row.packetCmd; }, 2000));
        // One accepted result counts one packet of the step.
        const uint8_t accepted = row.resultRule == ResultRule::AckStatus    ? ACK_STATUS_ACCEPTED
                                 : row.resultRule == ResultRule::StatusByte ? PACKET_STATUS_ACCEPTED
                                                                            : uint8_t{0x5A};
        deal(row.resultAnswer, {row.packetCmd, accepted});
        EXPECT_EQ(MessagesOf(WM_ENGINE_PACKET),
                  (std::vector<EngineMessage>{{WM_ENGINE_PACKET, static_cast<NotifyWParam>(frames - 1), 1}}));
        EXPECT_EQ(engine_.AcceptedPackets(n.step), 1);
    }
    engine_.ClearTasks();
}

TEST_F(UpdateRunTest, OnlyTheRadarImageStartsWithTheRadarStep) {
    UseSamples({"rdfwd.bin"});
    Connect();
    ASSERT_TRUE(RunUpdate());
    const auto frames = StopDevice();
    EXPECT_EQ(CommandRuns(RunCommands(frames)),
              (std::vector<uint8_t>{CMD_RADAR_START, CMD_RADAR_PACKET, CMD_RADAR_END}));
    // The start carries the image size, 32-bit little-endian: 70000 = 70 11 01 00.
    for (const LoggedFrame& f : frames) {
        if (f.fromTool && f.Cmd() == CMD_RADAR_START) {
            EXPECT_EQ(f.bytes, (std::vector<uint8_t>{0xAC, 0x09, 0x00, 0x41, 0x70, 0x11, 0x01, 0x00, 0xC3}));
        }
    }
    EXPECT_EQ(ReadFile(OutDir() + "/rdfwd.bin"), ReadFile(FilesDir() + "rdfwd.bin"));
}

TEST_F(UpdateRunTest, PicturesThenRadarAnnounceTheRadarStepOnThePictureEnd) {
    UseSamples({"picHead.bin", "rdfwd.bin"});
    Connect();
    ASSERT_TRUE(RunUpdate());
    const auto frames = StopDevice();
    EXPECT_EQ(CommandRuns(RunCommands(frames)),
              (std::vector<uint8_t>{CMD_PIC_START, CMD_PIC_PACKET, CMD_PIC_END, CMD_RADAR_START, CMD_RADAR_PACKET,
                                    CMD_RADAR_END}));
    // Once right after the radar start is queued, once more on the device's ready answer.
    int radarBegins = 0;
    for (const EngineMessage& m : MessagesOf(WM_ENGINE_STEP_BEGIN)) radarBegins += m.wParam == 5;
    EXPECT_EQ(radarBegins, 2);
}

TEST_F(UpdateRunTest, DataAndPicturesWithoutAudioSkipTheAudioStep) {
    UseSamples({"flagdata.bin", "picHead.bin"});
    Connect();
    ASSERT_TRUE(RunUpdate());
    const auto frames = StopDevice();
    EXPECT_EQ(CommandRuns(RunCommands(frames)),
              (std::vector<uint8_t>{CMD_EDOG_START, CMD_EDOG_PACKET, CMD_EDOG_END, CMD_PIC_START, CMD_PIC_PACKET,
                                    CMD_PIC_END}));
    EXPECT_EQ(ReadFile(OutDir() + "/picHead.bin"), ReadFile(FilesDir() + "picHead.bin"));
}

// The files are read at the start of the run: a file replaced after the device was found is sent in
// its new content, one added is sent too, and one replaced while the run goes changes nothing.
TEST_F(UpdateRunTest, ARunSendsTheFilesAsTheyAreWhenItStarts) {
    UseSamples({"flagdata.bin"});
    Connect();
    const std::vector<uint8_t> atStart = PseudoRandomBytes(4096 * 6 + 100, 41);
    WriteFile(FilesDir() + "flagdata.bin", atStart);
    WriteFile(FilesDir() + "rdfwd.bin", PseudoRandomBytes(3000, 42));
    window_.Clear();
    engine_.StartUpdateRun();
    ASSERT_TRUE(window_.WaitFor([](const std::vector<EngineMessage>& all) {
        for (const EngineMessage& m : all)
            if (m.message == WM_ENGINE_PACKET && m.lParam >= 1) return true;
        return false;
    }, 10000));
    WriteFile(FilesDir() + "flagdata.bin", PseudoRandomBytes(5000, 43));
    ASSERT_TRUE(window_.WaitForRunEnd(60000));
    for (const EngineMessage& m : MessagesOf(WM_ENGINE_STEP_END)) EXPECT_EQ(m.lParam, 0);
    StopDevice();
    EXPECT_EQ(ReadFile(OutDir() + "/flagdata.bin"), atStart);
    EXPECT_EQ(ReadFile(OutDir() + "/rdfwd.bin"), ReadFile(FilesDir() + "rdfwd.bin"));
}

TEST_F(UpdateRunTest, EditedSettingsWithoutImagesAreTheWholeRun) {
    UseSamples({});
    Connect();
    SettingsBlock edited;
    for (size_t i = 0; i < edited.size(); ++i) edited[i] = static_cast<uint8_t>(0xA0 + i);
    engine_.SetSettingsBlock(edited.data());
    engine_.SetSettingsPending(1);
    ASSERT_TRUE(RunUpdate());
    const auto frames = StopDevice();
    EXPECT_EQ(RunCommands(frames), (std::vector<uint8_t>{CMD_WRITE_SETTINGS}));
    const auto ends = MessagesOf(WM_ENGINE_STEP_END);
    ASSERT_EQ(ends.size(), 2u);
    EXPECT_EQ(ends[0], (EngineMessage{WM_ENGINE_STEP_END, 6, 0}));
    EXPECT_EQ(ends[1], (EngineMessage{WM_ENGINE_STEP_END, 7, 0}));
    EXPECT_EQ(ReadFile(OutDir() + "/settings.bin"), std::vector<uint8_t>(edited.begin(), edited.end()));
}

TEST_F(UpdateRunTest, NothingToSendEndsTheRunAtOnceAndIsNoSuccess) {
    UseSamples({});
    Connect();
    ASSERT_TRUE(RunUpdate(2000));
    EXPECT_EQ(window_.Messages(), (std::vector<EngineMessage>{{WM_ENGINE_STEP_END, 7, 1}}));
    EXPECT_EQ(engine_.FailureReason(), L"файлы обновления не найдены в папке " + Utf8ToWide(FilesDir()));
    const auto frames = StopDevice();
    EXPECT_TRUE(RunCommands(frames).empty());
}

TEST_F(UpdateRunTest, ASecondRunSendsEverythingAgainAndWritesPendingSettingsLast) {
    UseSamples({"flagdata.bin", "rdfwd.bin"});
    Connect();
    SettingsBlock edited{};
    edited[3] = 7;
    engine_.SetSettingsBlock(edited.data());
    engine_.SetSettingsPending(1);
    ASSERT_TRUE(RunUpdate());
    ASSERT_TRUE(RunUpdate());
    const auto frames = StopDevice();
    const std::vector<uint8_t> once = {CMD_EDOG_START, CMD_EDOG_PACKET, CMD_EDOG_END,  CMD_RADAR_START,
                                       CMD_RADAR_PACKET, CMD_RADAR_END, CMD_WRITE_SETTINGS};
    std::vector<uint8_t> twice = once;
    twice.insert(twice.end(), once.begin(), once.end());
    EXPECT_EQ(CommandRuns(RunCommands(frames)), twice);
    EXPECT_EQ(CountCommand(RunCommands(frames), CMD_WRITE_SETTINGS), 2);
    // The simulator keeps the last transfer of each image: the second run's copy is intact too.
    EXPECT_EQ(ReadFile(OutDir() + "/flagdata.bin"), ReadFile(FilesDir() + "flagdata.bin"));
}

TEST_F(UpdateRunTest, LineFaultsOnTheAnswersDoNotDisturbTheRun) {
    UseSamples({"picHead.bin", "rdfwd.bin"});
    Connect({"--split", "--junk"});
    ASSERT_TRUE(RunUpdate());
    StopDevice();
    EXPECT_EQ(ReadFile(OutDir() + "/picHead.bin"), ReadFile(FilesDir() + "picHead.bin"));
    EXPECT_EQ(ReadFile(OutDir() + "/rdfwd.bin"), ReadFile(FilesDir() + "rdfwd.bin"));
    for (const EngineMessage& m : MessagesOf(WM_ENGINE_STEP_END)) EXPECT_EQ(m.lParam, 0);
}

// A duplicated acknowledgement cannot be told from an answer: the tool goes one packet ahead of the
// device. The surplus answer that is left over ends the image's step with a failure, at the latest in
// the settle after its end command, before the next image starts.
TEST_F(UpdateRunTest, ADuplicatedAcknowledgementFailsTheStepAndLosesNoPacket) {
    struct Row {
        std::vector<std::string> files;
        std::string duplicate;
        int step;
        uint8_t nextStart;  // never sent
    };
    const std::vector<Row> rows = {
        {{"flagdata.bin", "audioHead.bin"}, "0x23@3", StepEDog, CMD_MUSIC_START},
        {{"flagdata.bin", "audioHead.bin"}, "0x23@" + std::to_string((kSampleEDogBytes + 4095) / 4096), StepEDog, CMD_MUSIC_START},
        {{"AC7811_project.hex", "rdfwd.bin"}, "0x06@100", StepProject, CMD_RADAR_START},
        {{"rdfwd.bin"}, "0x43@2", StepRadar, CMD_WRITE_SETTINGS},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.duplicate);
        UseSamples(row.files);
        Connect({"--duplicate", row.duplicate});
        ASSERT_TRUE(RunUpdate());
        EXPECT_EQ(MessagesOf(WM_ENGINE_STEP_END).back(), (EngineMessage{WM_ENGINE_STEP_END, StepFinished, 1}));
        EXPECT_EQ(MessagesOf(WM_ENGINE_STEP_END).front(), (EngineMessage{WM_ENGINE_STEP_END, static_cast<NotifyWParam>(row.step), 1}))
            << "the step never showed success";
        EXPECT_EQ(engine_.FailureReason(), L"устройство ответило больше раз, чем его спросили");
        for (const EngineMessage& m : MessagesOf(WM_ENGINE_PACKET)) EXPECT_LE(m.lParam, static_cast<NotifyLParam>(m.wParam));
        const auto commands = RunCommands(StopDevice());
        EXPECT_EQ(CountCommand(commands, row.nextStart), 0);
        if (row.step == StepEDog) {
            EXPECT_EQ(ReadFile(OutDir() + "/flagdata.bin"), ReadFile(FilesDir() + "flagdata.bin"));
        }
        std::filesystem::remove_all(FilesDir());
        std::filesystem::create_directories(FilesDir());
    }
}

TEST_F(UpdateRunTest, AnUnansweredPacketEndsTheRunWithAFailureAndIsNotResent) {
    UseSamples({"flagdata.bin", "rdfwd.bin"});
    EngineOptions options = engine_.Options();
    options.waitSliceMs = 200;
    options.noAnswerSlices = 2;
    engine_.SetOptions(options);
    Connect({"--no-answer", "0x23@3"});
    ASSERT_TRUE(RunUpdate(10000));
    const auto ends = MessagesOf(WM_ENGINE_STEP_END);
    ASSERT_EQ(ends.size(), 2u);
    EXPECT_EQ(ends[0], (EngineMessage{WM_ENGINE_STEP_END, 2, 1}));
    EXPECT_EQ(ends[1], (EngineMessage{WM_ENGINE_STEP_END, 7, 1}));
    const auto frames = StopDevice();
    const auto commands = RunCommands(frames);
    EXPECT_EQ(CountCommand(commands, CMD_EDOG_PACKET), 3);
    EXPECT_EQ(CountCommand(commands, CMD_RADAR_START), 0) << "a failed run starts no further image";
    EXPECT_EQ(CountCommand(commands, CMD_EDOG_END), 0);
}

TEST_F(UpdateRunTest, AFirmwareFileWithoutLeadingAddressRecordFailsTheRun) {
    const std::vector<HexRecord> records = {{0x00, 0x0000, {1, 2, 3, 4}}, {0x01, 0, {}}};
    WriteTextFile(FilesDir() + "AC7811_project.hex", HexFile(records, "0105\r\n"));
    WriteFile(FilesDir() + "rdfwd.bin", PseudoRandomBytes(3000, 5));
    Connect();
    ASSERT_TRUE(RunUpdate(10000));
    const auto ends = MessagesOf(WM_ENGINE_STEP_END);
    ASSERT_EQ(ends.size(), 2u);
    EXPECT_EQ(ends[0], (EngineMessage{WM_ENGINE_STEP_END, 1, 1}));
    EXPECT_EQ(ends[1], (EngineMessage{WM_ENGINE_STEP_END, 7, 1}));
    // The reader refuses the file, so the run ends before anything of it, or of the radar image, is sent.
    EXPECT_NE(engine_.FailureReason().find(L"запись 1: первая запись не задаёт адрес загрузки"), std::wstring::npos);
    const auto commands = RunCommands(StopDevice());
    EXPECT_EQ(commands, (std::vector<uint8_t>{}));
}

TEST_F(UpdateRunTest, NoDeviceLeavesThePortClosedAndSendsNothing) {
    sim_ = std::make_unique<DevSimProcess>(std::vector<std::string>{"--silent"});
    ASSERT_TRUE(sim_->Started());
    SetPortList({sim_->PtyPath()});
    ASSERT_EQ(engine_.StartEngine(SERIAL_PORT_LIMIT, SERIAL_TRANSFER_BAUD, Utf8ToWide(FilesDir())), 1);
    ASSERT_TRUE(WaitUntil([&] { return engine_.GetConnectState() == ConnectState::NoDevice; }, 5000));
    EXPECT_FALSE(engine_.Port().IsOpen());
    ASSERT_TRUE(window_.WaitForCount(WM_ENGINE_CONNECT, 1, 1000));
    EXPECT_EQ(window_.Messages(), (std::vector<EngineMessage>{
                                      {WM_ENGINE_CONNECT, static_cast<NotifyWParam>(ConnectState::NoDevice), 0}}))
        << "the front end learns that nothing answered, and nothing else";
    const auto report = engine_.LastScanReport();
    ASSERT_EQ(report.size(), 1u);
    EXPECT_EQ(report[0].first, sim_->PtyPath());
    EXPECT_EQ(report[0].second, PortFinding::NoAnswer);
}

// The window's search: a port that opened and did not answer is some other serial device, probed
// once; a port that appears later is probed at once; the first one is probed again only when the user
// asks.
TEST_F(UpdateRunTest, ASilentPortIsProbedAgainOnlyWhenTheUserAsks) {
    testsupport::PtyPair silent;
    testsupport::PtyPair later;
    const std::string link = dir_.Path() + "/ttyLATER";
    EngineOptions options = engine_.Options();
    options.keepScanning = true;
    options.reprobeMs = 0;
    options.rescanMs = 50;
    engine_.SetOptions(options);
    SetPortList({silent.SlavePath(), link});
    const size_t probeSize = 6;  // the 'E' frame with its port byte
    auto reported = [&](const std::string& path) {
        const ScanReport report = engine_.LastScanReport();
        return std::any_of(report.begin(), report.end(), [&](const auto& entry) { return entry.first == path; });
    };
    ASSERT_EQ(engine_.StartEngine(SERIAL_PORT_LIMIT, SERIAL_TRANSFER_BAUD, Utf8ToWide(FilesDir())), 1);
    ASSERT_TRUE(window_.WaitForCount(WM_ENGINE_CONNECT, 1, 5000));
    EXPECT_EQ(silent.ReadMaster(probeSize, 2000).size(), probeSize);

    std::filesystem::create_symlink(later.SlavePath(), link);
    EXPECT_EQ(later.ReadMaster(probeSize, 5000).size(), probeSize) << "a port that appears is probed at once";
    // The look that found it has ended once it is in the report; it left the silent port alone.
    ASSERT_TRUE(WaitUntil([&] { return reported(link); }, 5000));
    EXPECT_TRUE(silent.ReadMaster(1, 10).empty()) << "the silent port was probed again by itself";

    engine_.SearchAgain();
    EXPECT_EQ(silent.ReadMaster(probeSize, 5000).size(), probeSize) << "asked, the search probes it again";
    EXPECT_EQ(later.ReadMaster(probeSize, 5000).size(), probeSize);
    EXPECT_TRUE(window_.WaitForCount(WM_ENGINE_CONNECT, 2, 5000)) << "and says again that nothing answered";
    EXPECT_EQ(engine_.GetConnectState(), ConnectState::NoDevice);
}

}  // namespace

namespace {

TEST_F(UpdateRunTest, ADeviceNoticeThatDiscardsPacketsEndsTheRunWithAFailure) {
    UseSamples({"flagdata.bin", "rdfwd.bin"});
    Connect({"--notice-after", "0x23@3"});
    ASSERT_TRUE(RunUpdate(10000)) << "the run must not stand still";
    const auto ends = MessagesOf(WM_ENGINE_STEP_END);
    ASSERT_EQ(ends.size(), 2u);
    EXPECT_EQ(ends[0], (EngineMessage{WM_ENGINE_STEP_END, 2, 1}));
    EXPECT_EQ(ends[1], (EngineMessage{WM_ENGINE_STEP_END, 7, 1}));
    // The run has ended before the engine acknowledges the notice.
    EXPECT_TRUE(WaitForLogged(CMD_ACK)) << "the notice was never acknowledged";
    const auto frames = StopDevice();
    // The notice is acknowledged once, and the acknowledgement does not block the queue: a later
    // run goes through.
    int acks = 0;
    for (const LoggedFrame& f : frames)
        acks += f.fromTool && f.bytes == std::vector<uint8_t>{0xAC, 0x07, 0x00, 0x0D, 0x1B, 0x02, 0x2A};
    EXPECT_EQ(acks, 1);
}

TEST_F(UpdateRunTest, ANoticeBetweenRunsChangesNothing) {
    UseSamples({"rdfwd.bin"});
    Connect({"--notice-after", "0x49@1"});  // right after the settings information is read
    // Start the run only once the notice has been handled (its acknowledgement reached the device).
    ASSERT_TRUE(WaitForLogged(CMD_ACK));
    ASSERT_TRUE(RunUpdate(10000));
    for (const EngineMessage& m : MessagesOf(WM_ENGINE_STEP_END)) EXPECT_EQ(m.lParam, 0);
    StopDevice();
    EXPECT_EQ(ReadFile(OutDir() + "/rdfwd.bin"), ReadFile(FilesDir() + "rdfwd.bin"));
}

// After a run the device is asked for its versions again only once the line has been quiet for a
// second: the device never answers the last end command and may still be busy with it. Here it sends
// a notice right after the radar end; the question comes only after the tool has acknowledged it.
// A device that does not answer the question changes nothing: no search, no failure, no message.
TEST_F(UpdateRunTest, TheVersionsAreAskedForAgainOnceTheLineIsQuiet) {
    struct Row {
        const char* name;
        std::vector<std::string> sim;
        bool answered;
    };
    const Row rows[] = {
        {"answered", {"--notice-after", "0x40@1"}, true},
        {"unanswered", {"--notice-after", "0x40@1", "--no-answer", "0x45@3"}, false},
    };
    auto infoRequests = [this] {
        return CountCommand(CommandsReceived(ReadFrameLog(OutDir())), CMD_DEVICE_INFO);
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        UseSamples({"rdfwd.bin"});
        Connect(row.sim);
        const std::wstring versionBefore = engine_.DeviceFirmwareVersion();
        ASSERT_TRUE(RunUpdate(20000));
        window_.Clear();
        ASSERT_EQ(engine_.RefreshDeviceInfo(), 1);
        ASSERT_TRUE(WaitUntil([&] { return infoRequests() == 3; }, ScaledMs(10000)));
        if (row.answered) {
            EXPECT_TRUE(WaitUntil([&] { return window_.Count(WM_ENGINE_SETTINGS) == 2; }, ScaledMs(10000)));
            EXPECT_EQ(window_.Count(WM_ENGINE_READY), 1);
        } else {
            EXPECT_TRUE(NeverWithin([&] { return !window_.Messages().empty(); }, ScaledMs(1500)));
        }
        EXPECT_EQ(engine_.DeviceFirmwareVersion(), versionBefore);
        EXPECT_EQ(engine_.GetConnectState(), ConnectState::Connected);
        const std::vector<uint8_t> commands = CommandsReceived(StopDevice());
        const auto ack = std::find(commands.begin(), commands.end(), CMD_ACK);
        const auto lastInfo = std::find(commands.rbegin(), commands.rend(), CMD_DEVICE_INFO).base() - 1;
        ASSERT_NE(ack, commands.end()) << "the notice after the end was acknowledged";
        EXPECT_LT(ack - commands.begin(), lastInfo - commands.begin()) << "asked while the line was still busy";
    }
}

TEST_F(UpdateRunTest, ALineThatGoesAwayMidImageEndsTheRunAtOnceAndClosesThePort) {
    UseSamples({"flagdata.bin", "rdfwd.bin"});
    Connect({"--hangup", "0x23@3"});
    // The device goes away a few packets into the run, so the whole run stands for the time from
    // the loss to its end. Waiting out the no-answer slices would take 15 s and be traced; the bound
    // is generous, and below that on a native build.
    TraceCapture trace;
    const Stopwatch run;
    ASSERT_TRUE(RunUpdate(20000));
    EXPECT_LT(run.Ms(), ScaledMs(5000)) << "the run took " << run.Ms() << " ms";
    EXPECT_FALSE(trace.Contains(L"no answer to command")) << "a wait slice ran out: " << run.Ms() << " ms";
    const auto ends = MessagesOf(WM_ENGINE_STEP_END);
    ASSERT_EQ(ends.size(), 2u);
    EXPECT_EQ(ends[0], (EngineMessage{WM_ENGINE_STEP_END, 2, 1}));
    EXPECT_EQ(ends[1], (EngineMessage{WM_ENGINE_STEP_END, 7, 1}));
    EXPECT_EQ(engine_.FailureReason().rfind(L"связь с устройством потеряна: ", 0), 0u) << WideToUtf8(engine_.FailureReason());
    EXPECT_EQ(engine_.GetConnectState(), ConnectState::LineLost);
    EXPECT_EQ(engine_.LineLostReason(), engine_.FailureReason());
    EXPECT_TRUE(WaitUntil([&] { return !engine_.Port().IsOpen(); }, 1000)) << "the lost port is closed";

    // The simulator left by itself and kept what it received up to the hang-up.
    EXPECT_EQ(sim_->Stop(), 0);
    const auto commands = RunCommands(ReadFrameLog(OutDir()));
    EXPECT_EQ(CountCommand(commands, CMD_EDOG_PACKET), 3);
    EXPECT_EQ(CountCommand(commands, CMD_RADAR_START), 0);
    const std::vector<uint8_t> source = ReadFile(FilesDir() + "flagdata.bin");
    const std::vector<uint8_t> received = ReadFile(OutDir() + "/flagdata.bin");
    ASSERT_GT(source.size(), received.size());
    EXPECT_TRUE(std::equal(received.begin(), received.end(), source.begin()));
}

TEST_F(UpdateRunTest, ALineLostBetweenRunsIsNoticedAndARunOnItFailsAtOnce) {
    UseSamples({"rdfwd.bin"});
    Connect();
    sim_->Stop();  // the device is switched off: its end of the line closes
    ASSERT_TRUE(WaitUntil([&] { return engine_.GetConnectState() == ConnectState::LineLost; }, 1000));
    EXPECT_TRUE(WaitUntil([&] { return !engine_.Port().IsOpen(); }, 1000));
    EXPECT_EQ(window_.Messages(), (std::vector<EngineMessage>{
                                      {WM_ENGINE_CONNECT, static_cast<NotifyWParam>(ConnectState::LineLost), 0}}))
        << "no run: only the loss itself is reported";
    window_.Clear();
    EXPECT_EQ(engine_.LineLostReason().rfind(L"связь с устройством потеряна: ", 0), 0u);

    TraceCapture trace;
    const Stopwatch run;
    ASSERT_TRUE(RunUpdate(20000));
    EXPECT_LT(run.Ms(), ScaledMs(5000)) << "the run took " << run.Ms() << " ms";
    EXPECT_FALSE(trace.Contains(L"no answer to command")) << "a wait slice ran out: " << run.Ms() << " ms";
    EXPECT_EQ(MessagesOf(WM_ENGINE_STEP_END),
              (std::vector<EngineMessage>{{WM_ENGINE_STEP_END, 5, 1}, {WM_ENGINE_STEP_END, 7, 1}}));
    EXPECT_EQ(engine_.FailureReason(), engine_.LineLostReason());
}

}  // namespace

namespace {

// A device that repeats its ready answer must still get every image exactly once. The pictures and the
// radar are announced by the end of the image before them, so their first ready answer must still
// start them.
TEST_F(UpdateRunTest, ARepeatedReadyAnswerSendsEachImageOnce) {
    UseSamples(kAllImages);
    // 0x1C is answered with 0x1C and the firmware's ready answer 0x19: both come twice. The firmware
    // end's confirmation comes twice too: it must not start the next image a second time.
    Connect({"--duplicate", "0x1C@1", "--duplicate", "0x21@1", "--duplicate", "0x31@1", "--duplicate", "0x36@1",
             "--duplicate", "0x41@1", "--duplicate", "0x1A@1"});
    const int records = DataRecords(ReadHexRecords(FilesDir() + "AC7811_project.hex"));
    const std::map<uint8_t, int> packets = {{CMD_FIRMWARE_DATA, records},
                                            {CMD_EDOG_PACKET, engine_.EDogPacketCount()},
                                            {CMD_MUSIC_PACKET, engine_.MusicPacketCount()},
                                            {CMD_PIC_PACKET, engine_.PicPacketCount()},
                                            {CMD_RADAR_PACKET, engine_.RadarPacketCount()}};
    ASSERT_TRUE(RunUpdate());
    for (const EngineMessage& m : MessagesOf(WM_ENGINE_STEP_END)) EXPECT_EQ(m.lParam, 0) << "step " << m.wParam;
    EXPECT_EQ(MessagesOf(WM_ENGINE_STEP_END).size(), 6u) << "each image's step and the run end once";
    const auto commands = RunCommands(StopDevice());
    for (const auto& [cmd, count] : packets) {
        EXPECT_GT(count, 1);
        EXPECT_EQ(CountCommand(commands, cmd), count) << "packets of command " << std::hex << int(cmd);
    }
    for (uint8_t start : {CMD_FIRMWARE_START, CMD_EDOG_START, CMD_MUSIC_START, CMD_PIC_START, CMD_RADAR_START})
        EXPECT_EQ(CountCommand(commands, start), 1) << std::hex << int(start);
    for (const char* image : {"flagdata.bin", "audioHead.bin", "picHead.bin", "rdfwd.bin"})
        EXPECT_EQ(ReadFile(OutDir() + "/" + image), ReadFile(FilesDir() + image)) << image;
}

// A refused frame ends the run at once: no wait slice passes, nothing after it is sent, and the reason
// carries the device's own status text.
TEST_F(UpdateRunTest, ARefusedFrameEndsTheRunAtOnceWithTheDeviceText) {
    // Scaled, and on a native build well below the sender's 5 s wait slice, after which an unanswered
    // frame would be noticed; on any build the trace says whether a slice ran out.
    constexpr int kRefusalBoundMs = 2000;
    std::vector<HexRecord> firmware = HexRecordsFor(0x0800FF00, PseudoRandomBytes(1200, 11));
    firmware.push_back({0x05, 0, {0x08, 0x00, 0xFF, 0x00}});
    firmware.push_back({0x01, 0, {}});
    struct Row {
        const char* name;
        std::vector<std::string> files;
        std::string reject;
        int step;
        int acceptedBefore;  // packets the device took before the refusal
        uint8_t refused;
        std::wstring deviceText;
    };
    const std::vector<Row> rows = {
        {"data packet", {"flagdata.bin", "rdfwd.bin"}, "0x23@2", StepEDog, 1, CMD_EDOG_PACKET, L"MCU 参数错误!"},
        {"firmware record", {"rdfwd.bin"}, "0x06@3", StepProject, 2, CMD_FIRMWARE_DATA, L"命令无效，请重试!"},
        {"firmware end", {"flagdata.bin"}, "0x1A@1", StepProject, DataRecords(firmware), CMD_FIRMWARE_END,
         L"命令无效，请重试!"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        UseSamples(row.files);
        if (row.step == StepProject) WriteTextFile(FilesDir() + "AC7811_project.hex", HexFile(firmware, "0105\r\n"));
        Connect({"--reject", row.reject});
        window_.Clear();
        TraceCapture trace;
        engine_.StartUpdateRun();
        ASSERT_TRUE(window_.WaitFor(
            [&](const std::vector<EngineMessage>& all) {
                for (const EngineMessage& m : all)
                    if (m.message == WM_ENGINE_PACKET && m.lParam == row.acceptedBefore) return true;
                return false;
            },
            30000));
        const Stopwatch sinceRefusal;
        ASSERT_TRUE(window_.WaitForRunEnd(kRefusalBoundMs)) << "the run waited instead of ending";
        EXPECT_FALSE(trace.Contains(L"no answer to command")) << "a wait slice ran out: " << sinceRefusal.Ms() << " ms";
        const auto ends = MessagesOf(WM_ENGINE_STEP_END);
        ASSERT_FALSE(ends.empty());
        EXPECT_EQ(ends.front(), (EngineMessage{WM_ENGINE_STEP_END, static_cast<NotifyWParam>(row.step), 1}));
        EXPECT_EQ(ends.back(), (EngineMessage{WM_ENGINE_STEP_END, StepFinished, 1}));
        EXPECT_EQ(MessagesOf(WM_ENGINE_PACKET).size(), static_cast<size_t>(row.acceptedBefore));
        const std::wstring reason = engine_.FailureReason();
        EXPECT_NE(reason.find(row.deviceText), std::wstring::npos) << WideToUtf8(reason);
        const CRawString firstPacket = engine_.EDogPacketCount() > 0 ? *engine_.EDog().begin() : CRawString();
        const auto commands = RunCommands(StopDevice());
        // The refused frame is the last one of the run: not resent, no end command, no next image.
        ASSERT_FALSE(commands.empty());
        EXPECT_EQ(commands.back(), row.refused);
        EXPECT_EQ(CountCommand(commands, row.refused), row.refused == CMD_FIRMWARE_END ? 1 : row.acceptedBefore + 1);
        if (row.step == StepEDog) {
            EXPECT_EQ(ReadFile(OutDir() + "/flagdata.bin"),
                      std::vector<uint8_t>(firstPacket.Data(), firstPacket.Data() + firstPacket.Size()))
                << "the device holds only the packet it took";
        }
        std::filesystem::remove_all(FilesDir());
        std::filesystem::create_directories(FilesDir());
    }
}

// A window that asks the device for its settings while the data image is being sent.
class SettingsReadingWindow : public RecordingWindow {
public:
    intptr_t Send(uint32_t message, NotifyWParam wParam, NotifyLParam lParam) override {
        // On the reader thread, before the packet is acknowledged: the read is queued ahead of the
        // radar start, so its answer comes during the run and before the settings are written.
        if (message == WM_ENGINE_PACKET && lParam == 1 && !asked_.exchange(true)) CDealMsg::Instance()->ReadSettings();
        return RecordingWindow::Send(message, wParam, lParam);
    }

private:
    std::atomic<bool> asked_{false};
};

TEST_F(UpdateRunTest, ASettingsAnswerDuringARunDoesNotChangeWhatIsWritten) {
    UseSamples({"flagdata.bin", "rdfwd.bin"});
    Connect();
    SettingsBlock device{};
    engine_.GetSettingsBlock(device.data());
    SettingsBlock edited = device;
    for (size_t i = 0; i < edited.size(); i += 5) edited[i] = static_cast<uint8_t>(edited[i] ^ 0x5A);
    engine_.SetSettingsBlock(edited.data());
    engine_.SetSettingsPending(1);
    SettingsReadingWindow window;
    engine_.SetNotifyWindow(&window);
    engine_.StartUpdateRun();
    const bool ended = window.WaitForRunEnd(60000);
    engine_.SetNotifyWindow(&window_);
    ASSERT_TRUE(ended);
    // The device's settings answer arrived in the middle of the run, before the settings were written.
    const auto messages = window.Messages();
    const auto answer = std::find_if(messages.begin(), messages.end(),
                                     [](const EngineMessage& m) { return m.message == WM_ENGINE_SETTINGS; });
    const auto written = std::find(messages.begin(), messages.end(), EngineMessage{WM_ENGINE_STEP_END, StepSettings, 0});
    ASSERT_NE(answer, messages.end()) << "no settings answer during the run";
    ASSERT_NE(written, messages.end());
    EXPECT_LT(answer - messages.begin(), written - messages.begin());
    for (const EngineMessage& m : messages) {
        if (m.message == WM_ENGINE_STEP_END) {
            EXPECT_EQ(m.lParam, 0);
        }
    }
    StopDevice();
    EXPECT_EQ(ReadFile(OutDir() + "/settings.bin"), std::vector<uint8_t>(edited.begin(), edited.end()));
    EXPECT_EQ(ReadFile(OutDir() + "/rdfwd.bin"), ReadFile(FilesDir() + "rdfwd.bin"));
}

}  // namespace

namespace {

// A device-information request that goes unanswered while a run is queued behind it is dropped alone:
// the run's start still goes out and the run ends as it would have.
TEST_F(UpdateRunTest, AnUnansweredRequestIsDroppedAloneAndTheRunBehindItGoesOn) {
    UseSamples({"rdfwd.bin"});
    EngineOptions options = engine_.Options();
    options.waitSliceMs = 200;
    options.noAnswerSlices = 2;
    engine_.SetOptions(options);
    // The probe is 'E' #1, the request after it #2; the front end asks again (#3) right before the run.
    Connect({"--no-answer", "0x45@3"});
    TraceCapture trace;
    window_.Clear();
    CDealMsg::Instance()->RequestDeviceInfo(1);
    engine_.StartUpdateRun();
    ASSERT_TRUE(window_.WaitForRunEnd(20000));
    EXPECT_TRUE(trace.Contains(L"no answer to command 45; dropped"));
    for (const EngineMessage& m : MessagesOf(WM_ENGINE_STEP_END)) EXPECT_EQ(m.lParam, 0) << "step " << m.wParam;
    const auto frames = StopDevice();
    EXPECT_EQ(CountCommand(CommandsReceived(frames), CMD_DEVICE_INFO), 3);
    EXPECT_EQ(CommandRuns(RunCommands(frames)), (std::vector<uint8_t>{CMD_RADAR_START, CMD_RADAR_PACKET, CMD_RADAR_END}));
    EXPECT_EQ(ReadFile(OutDir() + "/rdfwd.bin"), ReadFile(FilesDir() + "rdfwd.bin"));
}

// Answers nobody asked for, arriving while the device restarts after its firmware: a settings write's
// answer, another image's ready answer, a packet result of the next image. They end, start and count
// nothing; the run goes on to every image.
class PauseStrayWindow : public RecordingWindow {
public:
    intptr_t Send(uint32_t message, NotifyWParam wParam, NotifyLParam lParam) override {
        if (message == WM_ENGINE_WAIT && !sent_.exchange(true)) {
            for (const std::vector<uint8_t>& answer : std::vector<std::vector<uint8_t>>{
                     {ANS_SETTINGS_WRITTEN, CMD_WRITE_SETTINGS, 1}, {ANS_MUSIC_READY}, {ANS_EDOG_READY},
                     {ANS_EDOG_RESULT, CMD_EDOG_PACKET, 1}, {ANS_ACK, CMD_FIRMWARE_DATA, 2}}) {
                CPacket_ISP frame;
                frame.Pack(answer[0], answer.data() + 1, static_cast<uint16_t>(answer.size() - 1));
                CDealMsg::Instance()->Deal(frame.Frame());
            }
        }
        return RecordingWindow::Send(message, wParam, lParam);
    }

private:
    std::atomic<bool> sent_{false};
};

TEST_F(UpdateRunTest, AnswersNobodyAskedForDuringTheFirmwarePauseChangeNothing) {
    UseSamples({"AC7811_project.hex", "flagdata.bin", "audioHead.bin"});
    Connect();
    PauseStrayWindow window;
    engine_.SetNotifyWindow(&window);
    TraceCapture trace;
    engine_.StartUpdateRun();
    const bool ended = window.WaitForRunEnd(60000);
    engine_.SetNotifyWindow(&window_);
    ASSERT_TRUE(ended);
    EXPECT_TRUE(trace.Contains(L"answer 4B (settings written) answers no command in flight"));
    EXPECT_TRUE(trace.Contains(L"answer 32 (ready) answers no command in flight"));
    std::vector<EngineMessage> ends;
    for (const EngineMessage& m : window.Messages())
        if (m.message == WM_ENGINE_STEP_END) ends.push_back(m);
    EXPECT_EQ(ends, (std::vector<EngineMessage>{{WM_ENGINE_STEP_END, 1, 0}, {WM_ENGINE_STEP_END, 2, 0},
                                                 {WM_ENGINE_STEP_END, 3, 0}, {WM_ENGINE_STEP_END, 7, 0}}));
    const auto commands = RunCommands(StopDevice());
    EXPECT_EQ(CountCommand(commands, CMD_EDOG_START), 1);
    for (const char* image : {"flagdata.bin", "audioHead.bin"})
        EXPECT_EQ(ReadFile(OutDir() + "/" + image), ReadFile(FilesDir() + image)) << image;
}

}  // namespace
