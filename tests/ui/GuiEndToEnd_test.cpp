// iap-tool against the device simulator on a pseudo-terminal: the user's view of a whole update run,
// checked against what the simulated device received.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>

#include "GuiProcess.h"
#include "engine/ImageTable.h"
#include "engine/UpdateStep.h"
#include "base/Text.h"
#include "protocol/IspCodes.h"
#include "support/DevSimProcess.h"
#include "support/HexText.h"
#include "support/SimLog.h"
#include "support/TestSupport.h"
#include "ui/StepTexts.h"

using namespace uitest;
using namespace testsupport;
namespace fs = std::filesystem;

namespace {

size_t CountOf(const std::string& text, const std::string& piece) {
    size_t n = 0;
    for (size_t at = text.find(piece); at != std::string::npos; at = text.find(piece, at + 1)) ++n;
    return n;
}

constexpr int kConnectMs = 15000;
// The firmware step ends with the device's 10-second pause; the rest takes a second or two.
constexpr int kRunMs = 60000;

class GuiEndToEndTest : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(FilesDir());
        fs::create_directories(OutDir());
        fs::create_directories(dir_.File("runtime"));
        WriteTextFile(FilesDir() + "ver.txt", "AC7811\n0105\n0300\n1a2c\n");
    }

    std::string FilesDir() const { return dir_.File("files/"); }
    std::string OutDir() const { return dir_.File("out"); }

    void StartDevice(const std::vector<std::string>& extra = {}) {
        std::vector<std::string> args = {"--out", OutDir()};
        args.insert(args.end(), extra.begin(), extra.end());
        sim_ = std::make_unique<DevSimProcess>(args);
        ASSERT_TRUE(sim_->Started());
    }

    // The port is the simulator's pty unless a path is given (a --link that may not exist yet).
    void StartTool(const std::string& port = "") {
        tool_ = std::make_unique<GuiProcess>(
            ToolPath(),
            std::vector<std::string>{"--automation", "--port", port.empty() ? sim_->PtyPath() : port, "--folder", FilesDir()},
            std::vector<std::string>{"XDG_RUNTIME_DIR=" + dir_.File("runtime"), "XDG_CONFIG_HOME=" + dir_.File("config")}, dir_.File("tool-stderr.txt"));
        ASSERT_TRUE(tool_->WaitReady(10000)) << tool_->Stderr();
    }

    bool WaitEnabled(const std::string& name, int timeoutMs) {
        return tool_->WaitFor(name, [](const ControlState& s) { return s.found && s.enabled; }, timeoutMs);
    }

    bool WaitStatus(const std::string& text, int timeoutMs) {
        return tool_->WaitFor("lbl_status", [&](const ControlState& s) { return s.text == text; }, timeoutMs);
    }

    bool WaitStatusStart(const std::string& start, int timeoutMs) {
        return tool_->WaitFor("lbl_status", [&](const ControlState& s) { return s.text.rfind(start, 0) == 0; }, timeoutMs);
    }

    static int SecondsLeft(const std::string& status) {
        const size_t colon = status.rfind(": ");
        return colon == std::string::npos ? -1 : std::atoi(status.c_str() + colon + 2);
    }

    // Quits the tool (exit status 0) and stops the device so its files are complete.
    void Finish() {
        EXPECT_EQ(tool_->Command("quit"), "ok");
        EXPECT_EQ(tool_->Wait(10000), 0) << tool_->Stderr();
        sim_->Stop();
    }

    TempDir dir_;
    std::unique_ptr<DevSimProcess> sim_;
    std::unique_ptr<GuiProcess> tool_;
};

TEST_F(GuiEndToEndTest, OneButtonUpdatesEveryImageAndTheDeviceHoldsThemIntact) {
    std::vector<HexRecord> firmware = HexRecordsFor(0x0800C000, PseudoRandomBytes(12000, 7));
    firmware.push_back({0x05, 0, {0x08, 0x00, 0xC0, 0x00}});
    firmware.push_back({0x01, 0, {}});
    WriteTextFile(FilesDir() + "AC7811_project.hex", HexFile(firmware, "0105\r\n"));
    const std::pair<const char*, size_t> images[] = {
        {"flagdata.bin", 30000}, {"audioHead.bin", 25000}, {"picHead.bin", 20001}, {"rdfwd.bin", 7000}};
    uint32_t seed = 11;
    for (const auto& [name, size] : images) WriteFile(FilesDir() + name, PseudoRandomBytes(size, seed++));

    StartDevice();
    StartTool();
    ASSERT_TRUE(WaitEnabled("btn_update", kConnectMs)) << tool_->Stderr();
    ASSERT_TRUE(WaitEnabled("btn_settings", kConnectMs));
    // The device's versions beside the files' versions.
    EXPECT_EQ(tool_->Get("lbl_device_firmwareversion").text, "0012");
    EXPECT_EQ(tool_->Get("lbl_device_dataversion").text, "0256");
    EXPECT_EQ(tool_->Get("lbl_device_radarversion").text, "1a2b");
    EXPECT_EQ(tool_->Get("lbl_file_firmwareversion").text, "0105");
    EXPECT_EQ(tool_->Get("lbl_device_type").text, "AC7811");

    EXPECT_EQ(tool_->Get("lbl_status").text, "Устройство подключено.");

    ASSERT_EQ(tool_->Command("click btn_update"), "ok");
    // While the run goes, nothing can be pressed.
    ASSERT_TRUE(tool_->WaitFor("btn_cancel", [](const ControlState& s) { return !s.enabled; }, 5000));
    EXPECT_FALSE(tool_->Get("btn_update").enabled);
    EXPECT_FALSE(tool_->Get("btn_settings").enabled);

    // After the firmware the window counts down the device's restart, and the bar moves with it.
    const std::string pause = "Ожидание перезапуска устройства: ";
    ASSERT_TRUE(WaitStatusStart(pause, kRunMs)) << tool_->Stderr();
    // The countdown starts from the pause's 10 s; this look comes a moment later (more on a slow build).
    const int firstLeft = SecondsLeft(tool_->Get("lbl_status").text);
    EXPECT_GE(firstLeft, 10 - ScaledMs(2000) / 1000);
    EXPECT_LE(firstLeft, 10);
    ASSERT_TRUE(tool_->WaitFor("lbl_status", [&](const ControlState& s) {
        return s.text.rfind(pause, 0) == 0 && SecondsLeft(s.text) < firstLeft - 1;
    }, 5000)) << tool_->Get("lbl_status").text;
    const int bar = tool_->Get("prog_step").value;
    EXPECT_GT(bar, 0);
    EXPECT_LT(bar, 100);
    EXPECT_EQ(tool_->Get("lbl_status").text.substr(pause.size() + 1), " с");

    ASSERT_TRUE(WaitStatus("Успешно обновлено!", kRunMs)) << tool_->Stderr();
    for (const char* button : {"btn_update", "btn_settings", "btn_cancel"}) EXPECT_TRUE(tool_->Get(button).enabled) << button;
    EXPECT_EQ(tool_->Get("prog_step").value, 100);
    EXPECT_EQ(tool_->Get("lbl_progress").text, "");
    const std::string elapsed = tool_->Get("lbl_usetime").text;
    ASSERT_EQ(elapsed.rfind("Время обновления: 00:00:", 0), 0u) << elapsed;
    // The firmware's 10-second pause is part of the run. The label is refreshed by the window's clock
    // timer, not at the run's end, so a run that ends just past 10 s may still read 9.
    EXPECT_GE(std::stoi(elapsed.substr(elapsed.size() - 2)), 9) << "the firmware's pause is part of the run";
    // The device is asked for its versions again once the run has ended; the final status stays.
    const auto askedAgain = [&] {
        const std::vector<uint8_t> commands = CommandsReceived(ReadFrameLog(OutDir()));
        const auto lastInfo = std::find(commands.rbegin(), commands.rend(), CMD_DEVICE_INFO);
        const auto lastEnd = std::find(commands.rbegin(), commands.rend(), CMD_RADAR_END);
        return lastInfo != commands.rend() && lastEnd != commands.rend() && lastInfo < lastEnd;
    };
    EXPECT_TRUE(WaitUntil(askedAgain, 5000)) << "no device information asked after the run";
    EXPECT_TRUE(tool_->WaitFor("lbl_device_firmwareversion", [](const ControlState& s) { return s.text == "0012"; }, 5000));
    EXPECT_EQ(tool_->Get("lbl_status").text, "Успешно обновлено!");
    Finish();
    // The answers were timed and found quick: the window was told nothing about the adapter.
    EXPECT_EQ(CountOf(tool_->Stderr(), "[CWork_BK] answers to the first 32 packets"), 1u) << tool_->Stderr();
    EXPECT_EQ(CountOf(tool_->Stderr(), "[CFrame_Update] the adapter holds"), 0u);

    for (const auto& [name, size] : images)
        EXPECT_EQ(ReadFile(OutDir() + "/" + name), ReadFile(FilesDir() + name)) << name;
    const std::vector<uint8_t> baseBytes = ReadFile(OutDir() + "/firmware.base");
    const uint32_t base = static_cast<uint32_t>(std::stoul(std::string(baseBytes.begin(), baseBytes.end()), nullptr, 16));
    std::string why;
    EXPECT_TRUE(SameMemory(MemoryOf(firmware), MemoryFromImage(base, ReadFile(OutDir() + "/firmware.bin")), &why)) << why;
    EXPECT_FALSE(fs::exists(OutDir() + "/settings.bin")) << "unchanged settings are not written";
}

// Started with no update file: the window says so as soon as the device answers, and a run started
// anyway ends with that text, sends nothing and shows no full bar. Settings edited in the settings
// window are kept across an unplug and replug (the new connection's read does not replace them) and
// then make a run of their own that reaches the device.
TEST_F(GuiEndToEndTest, WithNoUpdateFileOnlyEditedSettingsReachTheDevice) {
    std::vector<uint8_t> device(SETTINGS_BLOCK_SIZE, 1);  // every bound byte a valid index, boxes unchecked
    std::vector<uint8_t> info(SETTINGS_BLOCK_SIZE, 0);
    WriteFile(dir_.File("settings-G.bin"), device);
    WriteFile(dir_.File("settings-I.bin"), info);
    const std::string link = dir_.File("ttyREPLUG");
    const std::vector<std::string> deviceOptions = {"--link", link, "--settings", dir_.File("settings-G.bin"),
                                                    "--settings-info", dir_.File("settings-I.bin")};
    StartDevice(deviceOptions);
    StartTool(link);
    const std::string noFiles = "Устройство подключено. Файлы обновления не найдены в папке " + FilesDir() +
                                ". Выберите папку с файлами обновления кнопкой «Папка...» или перетащите её в окно.";
    ASSERT_TRUE(WaitStatus(noFiles, kConnectMs)) << tool_->Get("lbl_status").text;
    ASSERT_TRUE(WaitEnabled("btn_update", kConnectMs));
    ASSERT_EQ(tool_->Command("click btn_update"), "ok");
    ASSERT_TRUE(WaitStatus("Файлы обновления не найдены в папке " + FilesDir(), 5000)) << tool_->Get("lbl_status").text;
    EXPECT_TRUE(WaitEnabled("btn_update", 5000));
    EXPECT_NE(tool_->Get("prog_step").value, 100);

    ASSERT_TRUE(WaitEnabled("btn_settings", kConnectMs)) << tool_->Stderr();
    ASSERT_EQ(tool_->Command("click btn_settings"), "ok");
    // The settings window shows the device's settings; the main window is hidden meanwhile.
    ASSERT_TRUE(tool_->WaitFor("como_frame1_content_2_2", [](const ControlState& s) { return s.found; }, 5000));
    EXPECT_FALSE(tool_->Get("lbl_status").found);
    EXPECT_EQ(tool_->Get("como_frame1_content_2_2").text, "200M");
    // Boxes that no byte stands behind cannot be changed.
    for (const char* unbound : {"como_frame1_content_1_2", "como_frame1_content_3_1", "como_frame1_content_7_1"})
        EXPECT_FALSE(tool_->Get(unbound).enabled) << unbound;
    EXPECT_TRUE(tool_->Get("como_frame1_content_2_2").enabled);
    EXPECT_FALSE(tool_->Get("checkbox_frame1_1_1").selected);
    ASSERT_EQ(tool_->Command("select como_frame1_content_2_2 2"), "ok");
    ASSERT_EQ(tool_->Command("click checkbox_frame1_1_1"), "ok");
    ASSERT_TRUE(tool_->WaitFor("checkbox_frame1_1_1", [](const ControlState& s) { return s.selected; }, 5000));
    ASSERT_EQ(tool_->Command("click btn_ok"), "ok");
    ASSERT_TRUE(tool_->WaitFor("lbl_status", [](const ControlState& s) { return s.found; }, 5000));
    EXPECT_FALSE(tool_->Get("btn_ok").found);
    const std::string pending = "Изменённые настройки будут записаны в устройство при нажатии «Обновить».";
    EXPECT_EQ(tool_->Get("lbl_status").text, noFiles + " " + pending);

    // Unplugged and plugged in again: the device's settings are read anew, the edits stay.
    EXPECT_EQ(sim_->Stop(), 0);
    // The run without files sent no step's command.
    for (uint8_t cmd : CommandsReceived(ReadFrameLog(OutDir()))) EXPECT_EQ(StepOfCommand(cmd), StepNone) << "command " << int(cmd);
    ASSERT_TRUE(WaitStatusStart("Связь с устройством потеряна.", 5000)) << tool_->Get("lbl_status").text;
    sim_.reset();
    StartDevice(deviceOptions);
    ASSERT_TRUE(WaitStatus(noFiles + " " + pending, kConnectMs)) << tool_->Get("lbl_status").text;
    ASSERT_TRUE(WaitEnabled("btn_settings", kConnectMs));

    ASSERT_TRUE(WaitEnabled("btn_update", 5000));
    ASSERT_EQ(tool_->Command("click btn_update"), "ok");
    ASSERT_TRUE(WaitStatus("Настройки записаны в устройство. Файлов обновления для отправки не было.", kRunMs))
        << tool_->Get("lbl_status").text << tool_->Stderr();
    Finish();

    // This device got only the settings, once.
    const std::vector<uint8_t> commands = CommandsReceived(ReadFrameLog(OutDir()));
    for (uint8_t cmd : commands) EXPECT_TRUE(StepOfCommand(cmd) == StepNone || cmd == CMD_WRITE_SETTINGS) << "command " << int(cmd);
    EXPECT_EQ(CountCommand(commands, CMD_WRITE_SETTINGS), 1);
    std::vector<uint8_t> expected = device;
    expected[26] = 2;  // "300M" on sub-page 1
    expected[61] = 0;  // checked
    EXPECT_EQ(ReadFile(OutDir() + "/settings.bin"), expected);
}

// Started on a folder without update files, the window is pointed at the real one by a drop (of one
// of its files); a file replaced and one added while the window is open are shown and sent in the
// content they have at the click.
TEST_F(GuiEndToEndTest, ADroppedFolderIsSentAsItIsAtTheClick) {
    const std::string start = dir_.File("start/");
    fs::create_directories(start);
    WriteFile(FilesDir() + "flagdata.bin", PseudoRandomBytes(9000, 21));
    StartDevice();
    tool_ = std::make_unique<GuiProcess>(
        ToolPath(), std::vector<std::string>{"--automation", "--port", sim_->PtyPath(), "--folder", start},
        std::vector<std::string>{"XDG_RUNTIME_DIR=" + dir_.File("runtime"), "XDG_CONFIG_HOME=" + dir_.File("config")},
        dir_.File("tool-stderr.txt"));
    ASSERT_TRUE(tool_->WaitReady(10000)) << tool_->Stderr();
    ASSERT_TRUE(WaitStatusStart("Устройство подключено. Файлы обновления не найдены в папке " + start, kConnectMs))
        << tool_->Get("lbl_status").text;
    EXPECT_NE(tool_->Get("lbl_status").text.find("«Папка...»"), std::string::npos);
    EXPECT_EQ(tool_->Get("lbl_folder").text, start);

    ASSERT_EQ(tool_->Command("drop " + FilesDir() + "flagdata.bin"), "ok");
    ASSERT_TRUE(tool_->WaitFor("lbl_folder", [&](const ControlState& s) { return s.text == FilesDir(); }, 5000));
    EXPECT_EQ(tool_->Get("lbl_file_dataversion").text, "0300");
    ASSERT_TRUE(WaitStatus("Устройство подключено.", 5000)) << tool_->Get("lbl_status").text;

    // Replaced and added while the window is open.
    const std::vector<uint8_t> data = PseudoRandomBytes(13000, 22);
    const std::vector<uint8_t> radar = PseudoRandomBytes(3000, 23);
    WriteFile(FilesDir() + "flagdata.bin.part", data);
    fs::rename(FilesDir() + "flagdata.bin.part", FilesDir() + "flagdata.bin");
    WriteFile(FilesDir() + "rdfwd.bin", radar);
    ASSERT_TRUE(tool_->WaitFor("lbl_files", [](const ControlState& s) {
        return s.text.find("rdfwd.bin: готов к отправке") != std::string::npos;
    }, 5000)) << tool_->Get("lbl_files").text;
    EXPECT_EQ(tool_->Get("lbl_file_radarversion").text, "1a2c");
    ASSERT_TRUE(WaitEnabled("btn_update", 5000));
    ASSERT_EQ(tool_->Command("click btn_update"), "ok");
    ASSERT_TRUE(WaitStatus("Успешно обновлено!", kRunMs)) << tool_->Get("lbl_status").text << tool_->Stderr();
    Finish();
    EXPECT_EQ(ReadFile(OutDir() + "/flagdata.bin"), data);
    EXPECT_EQ(ReadFile(OutDir() + "/rdfwd.bin"), radar);
}

// An empty and then a damaged firmware file: no run starts, and the status names the file; a whole
// one put in its place is sent. The device's answers come 16 ms late, as through a USB adapter's
// latency timer: the window says so once, and the run goes on to its end.
TEST_F(GuiEndToEndTest, AnEmptyOrDamagedFirmwareFileStartsNoRunAndAWholeOneGoesThroughASlowAdapter) {
    WriteTextFile(FilesDir() + "AC7811_project.hex", "");
    StartDevice({"--delay-ms", "16"});
    StartTool();
    ASSERT_TRUE(WaitStatusStart("Устройство подключено. Файл AC7811_project.hex пуст", kConnectMs))
        << tool_->Get("lbl_status").text;
    EXPECT_FALSE(tool_->Get("btn_update").enabled);
    EXPECT_EQ(tool_->Command("click btn_update"), "disabled");
    EXPECT_EQ(tool_->Get("lbl_file_firmwareversion").text, "пустой файл");

    std::vector<HexRecord> firmware = HexRecordsFor(0x0800C000, PseudoRandomBytes(48 * 16, 24));
    firmware.push_back({0x01, 0, {}});
    std::string damaged = HexFile(firmware, "0105\r\n");
    const size_t second = damaged.find(':', 1);
    damaged[second + 10] = damaged[second + 10] == 'F' ? 'E' : 'F';
    WriteTextFile(FilesDir() + "AC7811_project.hex", damaged);
    ASSERT_TRUE(WaitStatusStart("Устройство подключено. Файл AC7811_project.hex не будет отправлен: запись 2: ", 5000))
        << tool_->Get("lbl_status").text;
    EXPECT_FALSE(tool_->Get("btn_update").enabled);

    WriteTextFile(FilesDir() + "AC7811_project.hex", HexFile(firmware, "0106\r\n"));
    ASSERT_TRUE(WaitEnabled("btn_update", 5000)) << tool_->Get("lbl_status").text;
    EXPECT_EQ(tool_->Get("lbl_file_firmwareversion").text, "0106 (в ver.txt: 0105)");
    EXPECT_EQ(tool_->Get("lbl_status").text, "Устройство подключено.");
    const std::vector<uint8_t> before = CommandsReceived(ReadFrameLog(OutDir()));
    for (uint8_t cmd : before) EXPECT_EQ(StepOfCommand(cmd), StepNone) << "command " << int(cmd);
    ASSERT_EQ(tool_->Command("click btn_update"), "ok");
    const std::string slow = "Адаптер USB-COM задерживает каждый ответ устройства примерно на ";
    // Said during the firmware and kept through the device's restart.
    ASSERT_TRUE(tool_->WaitFor("lbl_status", [&](const ControlState& s) {
        return s.text.rfind("Ожидание перезапуска устройства: ", 0) == 0 && s.text.find(" с " + slow) != std::string::npos;
    }, kRunMs)) << tool_->Get("lbl_status").text << tool_->Stderr();
    ASSERT_TRUE(WaitStatusStart("Успешно обновлено! " + slow, kRunMs)) << tool_->Get("lbl_status").text << tool_->Stderr();
    const std::string status = tool_->Get("lbl_status").text;
    const std::string steps = WideToUtf8(LatencyTimerSteps());
    EXPECT_EQ(status.substr(status.size() - std::min(status.size(), steps.size())), steps) << status;
    Finish();
    EXPECT_EQ(CountOf(tool_->Stderr(), "[CFrame_Update] the adapter holds every answer back"), 1u) << tool_->Stderr();
    std::string why;
    const std::vector<uint8_t> baseBytes = ReadFile(OutDir() + "/firmware.base");
    const uint32_t base = static_cast<uint32_t>(std::stoul(std::string(baseBytes.begin(), baseBytes.end()), nullptr, 16));
    EXPECT_TRUE(SameMemory(MemoryOf(firmware), MemoryFromImage(base, ReadFile(OutDir() + "/firmware.bin")), &why)) << why;
}

// The device's port is held by another program: the window says so and what to do, not "no device";
// once the other program lets go, the device is found without a restart.
TEST_F(GuiEndToEndTest, APortHeldByAnotherProgramIsShownAsBusy) {
    WriteFile(FilesDir() + "flagdata.bin", PseudoRandomBytes(5000, 25));
    StartDevice();
    const int holder = ::open(sim_->PtyPath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(holder, 0) << std::strerror(errno);
    ASSERT_EQ(::flock(holder, LOCK_EX | LOCK_NB), 0) << std::strerror(errno);
    StartTool();
    ASSERT_TRUE(WaitStatusStart("Порт " + sim_->PtyPath() + " занят другой программой. Закройте программу", kConnectMs))
        << tool_->Get("lbl_status").text;
    EXPECT_FALSE(tool_->Get("btn_update").enabled);
    ::close(holder);
    ASSERT_TRUE(WaitStatus("Устройство подключено.", kConnectMs)) << tool_->Get("lbl_status").text << tool_->Stderr();
    Finish();
}

// Closing the window while engine threads are reporting to it must neither hang nor crash.
TEST_F(GuiEndToEndTest, QuittingInTheMiddleOfARunEndsTheProgramPromptly) {
    // Back-to-back answers keep an engine thread in the middle of a message most of the time.
    WriteFile(FilesDir() + "flagdata.bin", PseudoRandomBytes(4000000, 3));
    StartDevice();
    StartTool();
    ASSERT_TRUE(WaitEnabled("btn_update", kConnectMs)) << tool_->Stderr();
    ASSERT_EQ(tool_->Command("click btn_update"), "ok");
    ASSERT_TRUE(tool_->WaitFor("lbl_progress", [](const ControlState& s) { return s.text.size() > 1; }, 10000));
    ASSERT_EQ(tool_->Get("lbl_status").text, "Обновление базы камер...");
    // Closing during the run asks first; "continue" keeps the run going.
    EXPECT_EQ(tool_->Command("quit"), "ok");
    ASSERT_TRUE(tool_->WaitFor("btn_close_keep", [](const ControlState& s) { return s.found; }, 5000));
    EXPECT_TRUE(tool_->Get("btn_close_confirm").found);
    EXPECT_EQ(tool_->Wait(0), -2) << "the program must not end before the user answered";
    ASSERT_EQ(tool_->Command("click btn_close_keep"), "ok");
    ASSERT_TRUE(tool_->WaitFor("btn_close_keep", [](const ControlState& s) { return !s.found; }, 5000));
    const std::string progress = tool_->Get("lbl_progress").text;
    ASSERT_TRUE(tool_->WaitFor("lbl_progress", [&](const ControlState& s) { return s.text != progress; }, 10000))
        << "the run goes on";
    EXPECT_EQ(tool_->Command("quit"), "ok");
    ASSERT_TRUE(tool_->WaitFor("btn_close_confirm", [](const ControlState& s) { return s.found; }, 5000));
    const Stopwatch quitting;
    EXPECT_EQ(tool_->Command("click btn_close_confirm"), "ok");
    // The one bound: the program has ended (status 0, not -2) within the scaled 5 s.
    EXPECT_EQ(tool_->Wait(5000), 0) << "after " << quitting.Ms() << " ms\n" << tool_->Stderr();
    sim_->Stop();
}

// The device's line appears 4 s after the window started (an adapter plugged in late): the window says
// that nothing was found, then finds the device without a restart and updates it. A second device
// on that port goes away in the middle of the data: the status names the step and the line's loss as
// the reason and the bar is not full; the search starts again on its own and finds a third when it is back.
TEST_F(GuiEndToEndTest, DevicesComingAndGoingAreFoundWithoutARestart) {
    // Long enough for the second run to be cut in the middle (50 packets), short enough for the first.
    WriteFile(FilesDir() + "flagdata.bin", PseudoRandomBytes(200000, 3));
    const std::string link = dir_.File("ttyLATE");
    const Stopwatch sinceStart;
    StartDevice({"--link", link, "--link-delay-ms", "4000"});
    StartTool(link);
    ASSERT_TRUE(WaitStatusStart("Устройство не найдено. Подключите устройство", 5000)) << tool_->Get("lbl_status").text;
    EXPECT_FALSE(tool_->Get("btn_update").enabled);
    ASSERT_TRUE(WaitStatus("Устройство подключено.", 12000)) << tool_->Get("lbl_status").text << tool_->Stderr();
    const double foundAfter = sinceStart.Seconds();
    std::printf("device found %.2f s after the start, its line appeared at 4 s\n", foundAfter);
    EXPECT_GE(foundAfter, 4.0);
    // A new port is probed at the next look, every 2 s; the rest is slack for a slow build.
    EXPECT_LT(foundAfter, 4.0 + 2.0 + ScaledMs(2000) / 1000.0) << "found after " << foundAfter << " s";
    ASSERT_TRUE(WaitEnabled("btn_update", 5000));
    ASSERT_EQ(tool_->Command("click btn_update"), "ok");
    ASSERT_TRUE(WaitStatus("Успешно обновлено!", kRunMs)) << tool_->Stderr();
    EXPECT_EQ(sim_->Stop(), 0);
    EXPECT_EQ(ReadFile(OutDir() + "/flagdata.bin"), ReadFile(FilesDir() + "flagdata.bin"));

    StartDevice({"--link", link});
    ASSERT_TRUE(WaitEnabled("btn_update", kConnectMs)) << tool_->Stderr();
    ASSERT_EQ(tool_->Command("click btn_update"), "ok");
    ASSERT_TRUE(tool_->WaitFor("lbl_progress", [](const ControlState& s) { return s.text.size() > 1; }, 10000));
    const Stopwatch sinceLoss;
    sim_->Stop();
    // The reason tells a lost line from the no-answer slices (15 s, "устройство перестало отвечать"),
    // so the wait is only a guard.
    const std::string failed = "Не удалось обновить базу камер! Причина: связь с устройством потеряна";
    ASSERT_TRUE(WaitStatusStart(failed, 5000)) << tool_->Get("lbl_status").text << "\nafter " << sinceLoss.Ms() << " ms";
    std::printf("loss shown %.2f s after the device went away\n", sinceLoss.Seconds());
    EXPECT_LT(tool_->Get("prog_step").value, 100);
    EXPECT_TRUE(tool_->Get("btn_cancel").enabled);
    EXPECT_FALSE(tool_->Get("btn_update").enabled) << "no device to update";

    sim_.reset();
    StartDevice({"--link", link});
    ASSERT_TRUE(WaitStatus("Устройство подключено.", 15000)) << tool_->Get("lbl_status").text << tool_->Stderr();
    EXPECT_TRUE(WaitEnabled("btn_update", 5000));
    Finish();
}

}  // namespace
