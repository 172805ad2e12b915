// iap-tool against the device simulator on a pseudo-terminal: the user's view of a whole update run,
// checked against what the simulated device received.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>

#include "GuiProcess.h"
#include "engine/frame/IspCodes.h"
#include "support/DevSimProcess.h"
#include "support/HexText.h"
#include "support/TestSupport.h"

using namespace uitest;
using namespace testsupport;
namespace fs = std::filesystem;

namespace {

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

    void StartTool() {
        tool_ = std::make_unique<GuiProcess>(
            ToolPath(), std::vector<std::string>{"--automation", "--port", sim_->PtyPath(), "--folder", FilesDir()},
            std::vector<std::string>{"XDG_RUNTIME_DIR=" + dir_.File("runtime")}, dir_.File("tool-stderr.txt"));
        ASSERT_TRUE(tool_->WaitReady(10000)) << tool_->Stderr();
    }

    bool WaitEnabled(const std::string& name, int timeoutMs) {
        return tool_->WaitFor(name, [](const ControlState& s) { return s.found && s.enabled; }, timeoutMs);
    }

    bool WaitStatus(const std::string& text, int timeoutMs) {
        return tool_->WaitFor("lbl_status", [&](const ControlState& s) { return s.text == text; }, timeoutMs);
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

    ASSERT_EQ(tool_->Command("click btn_update"), "ok");
    // While the run goes, nothing can be pressed.
    ASSERT_TRUE(tool_->WaitFor("btn_cancel", [](const ControlState& s) { return !s.enabled; }, 5000));
    EXPECT_FALSE(tool_->Get("btn_update").enabled);
    EXPECT_FALSE(tool_->Get("btn_settings").enabled);

    ASSERT_TRUE(WaitStatus("Успешно обновлено!", kRunMs)) << tool_->Stderr();
    for (const char* button : {"btn_update", "btn_settings", "btn_cancel"}) EXPECT_TRUE(tool_->Get(button).enabled) << button;
    EXPECT_EQ(tool_->Get("prog_step").value, 100);
    EXPECT_EQ(tool_->Get("lbl_progress").text, "");
    const std::string elapsed = tool_->Get("lbl_usetime").text;
    ASSERT_EQ(elapsed.rfind("Время обновления: 00:00:", 0), 0u) << elapsed;
    EXPECT_GE(std::stoi(elapsed.substr(elapsed.size() - 2)), 10) << "the firmware's pause is part of the run";
    Finish();

    for (const auto& [name, size] : images)
        EXPECT_EQ(ReadFile(OutDir() + "/" + name), ReadFile(FilesDir() + name)) << name;
    const std::vector<uint8_t> baseBytes = ReadFile(OutDir() + "/firmware.base");
    const uint32_t base = static_cast<uint32_t>(std::stoul(std::string(baseBytes.begin(), baseBytes.end()), nullptr, 16));
    std::string why;
    EXPECT_TRUE(SameMemory(MemoryOf(firmware), MemoryFromImage(base, ReadFile(OutDir() + "/firmware.bin")), &why)) << why;
    EXPECT_FALSE(fs::exists(OutDir() + "/settings.bin")) << "unchanged settings are not written";
}

TEST_F(GuiEndToEndTest, SettingsEditedInTheSettingsWindowReachTheDevice) {
    WriteFile(FilesDir() + "rdfwd.bin", PseudoRandomBytes(3000, 5));
    std::vector<uint8_t> device(SETTINGS_BLOCK_SIZE, 1);  // every bound byte a valid index, boxes unchecked
    std::vector<uint8_t> info(SETTINGS_BLOCK_SIZE, 0);
    WriteFile(dir_.File("settings-G.bin"), device);
    WriteFile(dir_.File("settings-I.bin"), info);
    StartDevice({"--settings", dir_.File("settings-G.bin"), "--settings-info", dir_.File("settings-I.bin")});
    StartTool();
    ASSERT_TRUE(WaitEnabled("btn_settings", kConnectMs)) << tool_->Stderr();

    ASSERT_EQ(tool_->Command("click btn_settings"), "ok");
    // The settings window shows the device's settings; the main window is hidden meanwhile.
    ASSERT_TRUE(tool_->WaitFor("como_frame1_content_2_2", [](const ControlState& s) { return s.found; }, 5000));
    EXPECT_FALSE(tool_->Get("lbl_status").found);
    EXPECT_EQ(tool_->Get("como_frame1_content_2_2").text, "200M");
    EXPECT_FALSE(tool_->Get("checkbox_frame1_1_1").selected);
    ASSERT_EQ(tool_->Command("select como_frame1_content_2_2 2"), "ok");
    ASSERT_EQ(tool_->Command("click checkbox_frame1_1_1"), "ok");
    ASSERT_TRUE(tool_->WaitFor("checkbox_frame1_1_1", [](const ControlState& s) { return s.selected; }, 5000));
    ASSERT_EQ(tool_->Command("click btn_ok"), "ok");
    ASSERT_TRUE(tool_->WaitFor("lbl_status", [](const ControlState& s) { return s.found; }, 5000));
    EXPECT_FALSE(tool_->Get("btn_ok").found);

    ASSERT_TRUE(WaitEnabled("btn_update", 5000));
    ASSERT_EQ(tool_->Command("click btn_update"), "ok");
    ASSERT_TRUE(WaitStatus("Успешно обновлено!", kRunMs)) << tool_->Stderr();
    Finish();

    std::vector<uint8_t> expected = device;
    expected[26] = 2;  // "300M" on sub-page 1
    expected[61] = 0;  // checked
    EXPECT_EQ(ReadFile(OutDir() + "/settings.bin"), expected);
    EXPECT_EQ(ReadFile(OutDir() + "/rdfwd.bin"), ReadFile(FilesDir() + "rdfwd.bin"));
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
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(tool_->Command("quit"), "ok");
    EXPECT_EQ(tool_->Wait(5000), 0) << tool_->Stderr();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    sim_->Stop();
}

}  // namespace
