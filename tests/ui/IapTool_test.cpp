// The window program as a whole: one instance at a time, the skin checks at start-up, "ver.txt" in
// the labels, and the program folder as the current folder.
#include <gtest/gtest.h>
#include <sys/file.h>

#include <filesystem>
#include <memory>
#include <string>

#include "GuiProcess.h"
#include "support/DevSimProcess.h"
#include "support/TestSupport.h"

using namespace uitest;
namespace fs = std::filesystem;

namespace {

const char* const kSkins[] = {"frame_Update.xml", "Frame_Set.xml", "Frame_Set_Client_1.xml", "Frame_Set_Client_2.xml"};

class IapToolTest : public ::testing::Test {
protected:
    void SetUp() override { fs::create_directory(Runtime()); }

    // Each test has its own session folder, so its instance guard is its own.
    std::string Runtime() const { return dir_.File("runtime"); }
    // The user's settings (the folder chosen last) are the test's own too.
    std::vector<std::string> Env() const { return {"XDG_RUNTIME_DIR=" + Runtime(), "XDG_CONFIG_HOME=" + dir_.File("config")}; }

    // A copy of the program in a folder of its own, with the skins unless `withSkin` is false.
    std::string InstallCopy(bool withSkin = true) {
        const fs::path folder = dir_.File("app");
        fs::create_directories(folder);
        fs::copy_file(ToolPath(), folder / "iap-tool", fs::copy_options::overwrite_existing);
        if (withSkin) {
            fs::create_directories(folder / "Skin");
            for (const char* skin : kSkins)
                fs::copy_file(fs::path(IAP_SOURCE_DIR) / "Skin" / skin, folder / "Skin" / skin, fs::copy_options::overwrite_existing);
        }
        return (folder / "iap-tool").string();
    }

    std::unique_ptr<GuiProcess> Start(const std::string& program, const std::vector<std::string>& args,
                                      const std::string& cwd = "") {
        std::vector<std::string> all = {"--automation", "--port", dir_.File("no-such-port")};
        all.insert(all.end(), args.begin(), args.end());
        return std::make_unique<GuiProcess>(program, all, Env(), dir_.File("stderr" + std::to_string(++runs_) + ".txt"), cwd);
    }

    testsupport::ProcessResult RunOnce(const std::string& program, const std::vector<std::string>& args = {}) {
        std::vector<std::string> argv = {program, "--port", dir_.File("no-such-port")};
        argv.insert(argv.end(), args.begin(), args.end());
        std::vector<std::string> env = Env();
        env.push_back("QT_QPA_PLATFORM=offscreen");
        return testsupport::RunProcess(argv, testsupport::ScaledMs(10000), env);
    }

    testsupport::TempDir dir_;
    int runs_ = 0;
};

TEST_F(IapToolTest, ASecondInstanceBringsTheFirstForwardAndEnds) {
    auto first = Start(ToolPath(), {});
    ASSERT_TRUE(first->WaitReady(10000)) << first->Stderr();
    // The second one ends by itself (a kill after the time-out reads -1) and shows nothing.
    const testsupport::ProcessResult second = RunOnce(ToolPath());
    EXPECT_EQ(second.status, 0) << "after " << second.seconds << " s";
    EXPECT_EQ(second.out, "");
    EXPECT_EQ(second.err, "");
    // The first one brought its window forward and goes on.
    EXPECT_TRUE(testsupport::WaitUntil(
        [&] { return first->Stderr().find("a second start brought the window forward") != std::string::npos; }, 5000))
        << first->Stderr();
    EXPECT_TRUE(first->Get("btn_cancel").found);
    // A second start with a folder hands the folder to the running window, which reads its files.
    fs::create_directories(dir_.File("other folder"));
    testsupport::WriteTextFile(dir_.File("other folder/ver.txt"), "OTHER\n0200\n");
    const testsupport::ProcessResult withFolder = RunOnce(ToolPath(), {"--folder", dir_.File("other folder")});
    EXPECT_EQ(withFolder.status, 0) << withFolder.err;
    EXPECT_EQ(withFolder.err, "");
    EXPECT_TRUE(first->WaitFor("lbl_device_type", [](const ControlState& c) { return c.text == "OTHER"; }, 5000))
        << first->Stderr();
    EXPECT_EQ(first->Get("lbl_folder").text, dir_.File("other folder/"));
    EXPECT_EQ(first->Command("quit"), "ok");
    EXPECT_EQ(first->Wait(10000), 0);
    // Once it has ended the next instance starts.
    auto third = Start(ToolPath(), {});
    EXPECT_TRUE(third->WaitReady(10000)) << third->Stderr();
}

TEST_F(IapToolTest, ACrashedInstanceLeavesNoStaleLock) {
    auto first = Start(ToolPath(), {});
    ASSERT_TRUE(first->WaitReady(10000)) << first->Stderr();
    const std::string lock = Runtime() + "/{5A7136DF-3CE5-4278-931A-96E9F480A93B}}.lock";
    ASSERT_TRUE(fs::exists(lock));
    first->Kill(SIGKILL);
    EXPECT_EQ(first->Wait(10000), -1);
    auto next = Start(ToolPath(), {});
    EXPECT_TRUE(next->WaitReady(10000)) << next->Stderr();
    EXPECT_EQ(next->Command("quit"), "ok");
    EXPECT_EQ(next->Wait(10000), 0);
}

TEST_F(IapToolTest, AMissingSkinFolderIsAClearError) {
    const std::string program = InstallCopy(false);
    const testsupport::ProcessResult run = RunOnce(program);
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("нет папки оформления"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find(dir_.File("app/Skin")), std::string::npos) << run.err;
}

TEST_F(IapToolTest, ASkinThatIsNotXmlIsAClearError) {
    for (const char* broken : {"frame_Update.xml", "Frame_Set_Client_2.xml"}) {
        SCOPED_TRACE(broken);
        const std::string program = InstallCopy();
        testsupport::WriteTextFile(dir_.File(std::string("app/Skin/") + broken), "<ui version=\"4.0\"><widget class=\"QWidget\">\n<oops");
        const testsupport::ProcessResult run = RunOnce(program);
        EXPECT_EQ(run.status, 1);
        EXPECT_NE(run.err.find(broken), std::string::npos) << run.err;
        EXPECT_NE(run.err.find("— не XML"), std::string::npos) << run.err;
    }
    const std::string program = InstallCopy();
    fs::remove(dir_.File("app/Skin/frame_Update.xml"));
    const testsupport::ProcessResult run = RunOnce(program);
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("frame_Update.xml"), std::string::npos) << run.err;
}

TEST_F(IapToolTest, VersionFileAndSkinsComeFromTheProgramFolderWhateverTheCurrentFolder) {
    const std::string program = InstallCopy();
    testsupport::WriteTextFile(dir_.File("app/ver.txt"), std::string(3000, 'x') + "\nРадар\n0300\n1a2c\nmore\n");
    // The data and radar files carry no version of their own: theirs come from ver.txt.
    testsupport::WriteTextFile(dir_.File("app/flagdata.bin"), "data");
    testsupport::WriteTextFile(dir_.File("app/rdfwd.bin"), "radar");
    auto tool = Start(program, {}, dir_.Path());
    ASSERT_TRUE(tool->WaitReady(10000)) << tool->Stderr();
    // The 2048-character line buffer splits the long line; its rest is the second line.
    EXPECT_EQ(tool->Get("lbl_device_type").text, std::string(2047, 'x'));
    // The rest of the long line is the firmware's, but with no firmware file there is nothing to show.
    EXPECT_EQ(tool->Get("lbl_file_firmwareversion").text, "нет файла");
    EXPECT_EQ(tool->Get("lbl_file_dataversion").text, "Радар");
    EXPECT_EQ(tool->Get("lbl_file_radarversion").text, "0300");
    EXPECT_EQ(tool->Command("quit"), "ok");
    EXPECT_EQ(tool->Wait(10000), 0);
}

TEST_F(IapToolTest, FolderOptionNamesTheUpdateFolder) {
    testsupport::WriteTextFile(dir_.File("ver.txt"), "FROM-FOLDER\n");
    auto tool = Start(ToolPath(), {"--folder", dir_.Path()});
    ASSERT_TRUE(tool->WaitReady(10000)) << tool->Stderr();
    EXPECT_EQ(tool->Get("lbl_device_type").text, "FROM-FOLDER");
    EXPECT_EQ(tool->Command("quit"), "ok");
    EXPECT_EQ(tool->Wait(10000), 0);
}

// Which folder the window starts with: --folder; else the program's own when it holds update files;
// else the one the user chose last (while it is there); else the program's own.
TEST_F(IapToolTest, TheStartFolderIsTheGivenThenAReadyMadeThenTheRememberedOne) {
    const std::string program = InstallCopy();
    fs::create_directories(dir_.File("remembered"));
    fs::create_directories(dir_.File("given"));
    testsupport::WriteTextFile(dir_.File("remembered/ver.txt"), "REMEMBERED\n");
    testsupport::WriteTextFile(dir_.File("given/ver.txt"), "GIVEN\n");
    testsupport::WriteTextFile(dir_.File("app/ver.txt"), "PROGRAM\n");
    struct Row {
        const char* name;
        std::string remembered;  // in the user's settings; empty: none
        bool programHoldsFiles;
        std::vector<std::string> args;
        const char* deviceType;
    };
    const Row rows[] = {
        {"nothing chosen yet", "", false, {}, "PROGRAM"},
        {"the folder chosen last", dir_.File("remembered/"), false, {}, "REMEMBERED"},
        {"a chosen folder that is gone", dir_.File("gone/"), false, {}, "PROGRAM"},
        {"a ready-made program folder", dir_.File("remembered/"), true, {}, "PROGRAM"},
        {"--folder", dir_.File("remembered/"), true, {"--folder", dir_.File("given")}, "GIVEN"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        fs::remove_all(dir_.File("config"));
        if (!r.remembered.empty()) {
            fs::create_directories(dir_.File("config/IAP Tool"));
            testsupport::WriteTextFile(dir_.File("config/IAP Tool/iap-tool.ini"), "[General]\nupdateFolder=" + r.remembered + "\n");
        }
        if (r.programHoldsFiles)
            testsupport::WriteTextFile(dir_.File("app/rdfwd.bin"), "radar");
        else
            fs::remove(dir_.File("app/rdfwd.bin"));
        auto tool = Start(program, r.args);
        ASSERT_TRUE(tool->WaitReady(10000)) << tool->Stderr();
        EXPECT_EQ(tool->Get("lbl_device_type").text, r.deviceType);
        EXPECT_EQ(tool->Command("quit"), "ok");
        EXPECT_EQ(tool->Wait(10000), 0);
    }
}

TEST_F(IapToolTest, BadCommandLinesAreRefused) {
    struct Row {
        std::vector<std::string> args;
        const char* message;
    };
    const Row rows[] = {
        {{"--folder", dir_.File("missing")}, "нет такой папки"},
        {{"--folder"}, "нужно значение"},
        {{"--bogus"}, "неизвестный параметр: --bogus"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.message);
        std::vector<std::string> argv = {ToolPath()};
        argv.insert(argv.end(), r.args.begin(), r.args.end());
        const testsupport::ProcessResult run = testsupport::RunProcess(argv, testsupport::ScaledMs(10000), Env());
        EXPECT_EQ(run.status, 1);
        EXPECT_NE(run.err.find(r.message), std::string::npos) << run.err;
        EXPECT_NE(run.err.find("Вызов: iap-tool"), std::string::npos);
    }
}

TEST_F(IapToolTest, WithoutADisplayItSaysSoInsteadOfAborting) {
    std::vector<std::string> env = Env();
    for (const char* name : {"QT_QPA_PLATFORM=", "DISPLAY=", "WAYLAND_DISPLAY="}) env.emplace_back(name);
    const testsupport::ProcessResult run = testsupport::RunProcess({ToolPath()}, testsupport::ScaledMs(10000), env);
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("нет экрана"), std::string::npos) << run.err;
}

// Without a device nothing is offered but quitting; closing the window ends the program cleanly.
TEST_F(IapToolTest, WithoutADeviceTheWindowWaitsAndCancelEndsTheProgram) {
    auto tool = Start(ToolPath(), {});
    ASSERT_TRUE(tool->WaitReady(10000)) << tool->Stderr();
    EXPECT_FALSE(tool->Get("btn_update").enabled);
    EXPECT_FALSE(tool->Get("btn_settings").enabled);
    EXPECT_EQ(tool->Command("click btn_update"), "disabled");
    EXPECT_EQ(tool->Command("click btn_cancel"), "ok");
    EXPECT_EQ(tool->Wait(10000), 0);
}

}  // namespace
