// iap-cli as outside scripts use it: exit statuses, messages, settings handling, inspection.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <chrono>
#include <filesystem>
#include <functional>

#include "app/cli/PortReport.h"
#include "engine/frame/IspCodes.h"
#include "support/DevSimProcess.h"
#include "support/HexText.h"
#include "support/SimLog.h"
#include "support/TestSupport.h"

using namespace testsupport;

namespace {

class CliTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::filesystem::create_directories(Files());
        std::filesystem::create_directories(Out());
    }
    std::string Files() const { return dir_.Path() + "/files"; }
    std::string Out() const { return dir_.Path() + "/out"; }
    void MakeSamples(const std::vector<std::string>& drop = {}) {
        ASSERT_EQ(RunProcess({BinPath("iap-devsim"), "--make-samples", Files()}, 10000).status, 0);
        for (const std::string& name : drop) std::filesystem::remove(Files() + "/" + name);
    }
    void StartDevice(std::vector<std::string> args = {}) {
        args.insert(args.begin(), {"--out", Out()});
        sim_ = std::make_unique<DevSimProcess>(args);
        ASSERT_TRUE(sim_->Started());
    }
    ProcessResult Cli(std::vector<std::string> args, int timeoutMs = 60000) {
        args.insert(args.begin(), BinPath("iap-cli"));
        return RunProcess(args, timeoutMs);
    }
    std::vector<uint8_t> DeviceCommands() {
        EXPECT_EQ(sim_->Stop(), 0);
        return CommandsReceived(ReadFrameLog(Out()));
    }

    TempDir dir_;
    std::unique_ptr<DevSimProcess> sim_;
};

const std::vector<std::string> kAllButFlag = {"AC7811_project.hex", "audioHead.bin", "picHead.bin", "rdfwd.bin"};

TEST_F(CliTest, AWholeRunExitsZeroAndShowsVersionsProgressAndSummary) {
    MakeSamples();
    StartDevice();
    const ProcessResult r = Cli({"--port", sim_->PtyPath(), "--folder", Files(), "--firmware-pause-ms", "100"});
    EXPECT_EQ(r.status, 0) << r.err;
    for (const char* piece : {"Тип устройства: AC7811", "0012", "0105", "1a2b", "Старт обновления...",
                              "Обновление ПО прошло успешно!", "Обновление ПО радарной части прошло успешно!",
                              "Успешно обновлено!", "Время обновления: 00:00:", "Итог (256000 бод",
                              "% предела линии  ", "записей/с"})
        EXPECT_NE(r.out.find(piece), std::string::npos) << piece;
    EXPECT_TRUE(r.err.empty()) << r.err;
    EXPECT_EQ(r.out.find("\x1b"), std::string::npos) << "not a terminal: plain lines";
    sim_->Stop();
    for (const char* image : {"flagdata.bin", "audioHead.bin", "picHead.bin", "rdfwd.bin"})
        EXPECT_EQ(ReadFile(Out() + "/" + image), ReadFile(Files() + "/" + image)) << image;
}

TEST_F(CliTest, NoDeviceOnAnyPortExitsTwoNamingThePorts) {
    StartDevice({"--silent"});
    const std::string missing = dir_.Path() + "/no-such-port";
    const ProcessResult r = Cli({"--port", missing, "--port", sim_->PtyPath(), "--folder", Files()}, 20000);
    EXPECT_EQ(r.status, 2);
    EXPECT_LT(r.seconds, 8.0) << "about a second per port";
    EXPECT_NE(r.err.find("Устройство не ответило ни на одном порту"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(missing + ": нет такого порта"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(sim_->PtyPath() + ": устройство не ответило"), std::string::npos) << r.err;
}

// A device plugged in 4 s after the start is found while waiting; a port that is there and silent
// (some other serial device) is not probed again within 10 s.
TEST_F(CliTest, WaitDeviceFindsADevicePluggedInLater) {
    MakeSamples({"AC7811_project.hex", "flagdata.bin", "audioHead.bin", "picHead.bin"});
    const std::string otherOut = dir_.Path() + "/other";
    std::filesystem::create_directories(otherOut);
    DevSimProcess other({"--silent", "--out", otherOut});
    ASSERT_TRUE(other.Started());
    const std::string link = dir_.Path() + "/ttyLATE";
    StartDevice({"--link", link, "--link-delay-ms", "4000"});
    const ProcessResult r = Cli({"--wait-device", "20", "--port", other.PtyPath(), "--port", link, "--folder", Files()}, 40000);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("Устройство не найдено; подключите его, поиск продолжается (до 20 с)"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Успешно обновлено!"), std::string::npos) << r.out;
    EXPECT_EQ(ReadFile(Out() + "/rdfwd.bin"), ReadFile(Files() + "/rdfwd.bin"));
    std::printf("iap-cli --wait-device: run ended %.2f s after the start (device plugged in at 4 s)\n", r.seconds);
    EXPECT_GE(r.seconds, 4.0);
    EXPECT_EQ(other.Stop(), 0);
    EXPECT_EQ(CountCommand(CommandsReceived(ReadFrameLog(otherOut)), CMD_DEVICE_INFO), 1)
        << "the silent port is probed once, not at every look";

    // Without the option: one scan, exit status 2.
    const ProcessResult once = Cli({"--port", dir_.Path() + "/ttyNONE", "--folder", Files()}, 20000);
    EXPECT_EQ(once.status, 2) << once.err;
    EXPECT_LT(once.seconds, 3.0);
}

TEST_F(CliTest, UsageErrorsExitSixtyFour) {
    WriteFile(dir_.File("short.bin"), std::vector<uint8_t>(72, 1));
    struct Row {
        std::vector<std::string> args;
        const char* message;
        bool shared;  // an option iap-tool takes too: it must refuse it with the same words (status 1)
    };
    const std::vector<Row> rows = {
        {{"--bogus"}, "неизвестный параметр: --bogus", true},
        {{"--port"}, "параметру --port нужно значение", true},
        {{"--port", "/dev/a", "--folder"}, "параметру --folder нужно значение", true},
        {{"--folder", ""}, "у параметра --folder пустое значение", true},
        {{"--port", "", "--port", "/dev/a"}, "у параметра --port пустое значение", true},
        {{"stray"}, "неизвестный параметр: stray", false},
        {{"--firmware-pause-ms", "soon"}, "--firmware-pause-ms", false},
        {{"--test-wait-slice-ms", "0"}, "--test-wait-slice-ms", false},
        {{"--wait-device", "0"}, "--wait-device", false},
        {{"--settings", dir_.File("missing.bin"), "--port", "/nonexistent"}, "не открывается", false},
        {{"--settings", dir_.File("short.bin"), "--port", "/nonexistent"}, "ровно 73 байта", false},
    };
    const bool withTool = std::filesystem::exists(BinPath("iap-tool"));
    for (const Row& row : rows) {
        SCOPED_TRACE(row.message);
        const ProcessResult r = Cli(row.args, 10000);
        EXPECT_EQ(r.status, 64);
        EXPECT_NE(r.err.find(row.message), std::string::npos) << r.err;
        if (!row.shared || !withTool) continue;
        std::vector<std::string> args = row.args;
        args.insert(args.begin(), BinPath("iap-tool"));
        const ProcessResult tool = RunProcess(args, 10000);
        EXPECT_EQ(tool.status, 1);
        EXPECT_NE(tool.err.find(std::string("iap-tool: ") + row.message + "\n"), std::string::npos) << tool.err;
    }
}

TEST_F(CliTest, SettingsAreWrittenOnlyWhenEditedAndThenOnceAtTheEnd) {
    MakeSamples({"AC7811_project.hex", "flagdata.bin", "audioHead.bin", "picHead.bin"});  // radar only
    std::vector<uint8_t> deviceBlock(73);
    for (size_t i = 0; i < deviceBlock.size(); ++i) deviceBlock[i] = static_cast<uint8_t>(i * 3 + 1);
    WriteFile(dir_.File("device.bin"), deviceBlock);
    WriteFile(dir_.File("zero.bin"), std::vector<uint8_t>(73, 0));
    std::vector<uint8_t> edited = deviceBlock;
    edited[10] ^= 0xFF;
    WriteFile(dir_.File("edited.bin"), edited);

    struct Row {
        const char* file;
        int writes;
    };
    for (const Row& row : {Row{"device.bin", 0}, Row{"zero.bin", 0}, Row{"edited.bin", 1}}) {
        SCOPED_TRACE(row.file);
        std::filesystem::remove_all(Out());
        std::filesystem::create_directories(Out());
        StartDevice({"--settings", dir_.File("device.bin")});
        const ProcessResult r = Cli({"--port", sim_->PtyPath(), "--folder", Files(), "--settings", dir_.File(row.file),
                                     "--save-settings", dir_.File("saved.bin")});
        EXPECT_EQ(r.status, 0) << r.err;
        const auto commands = DeviceCommands();
        EXPECT_EQ(CountCommand(commands, 0x4A), row.writes);
        if (row.writes) {
            EXPECT_EQ(commands.back(), 0x4A) << "the settings are written at the end of the run";
            EXPECT_EQ(ReadFile(Out() + "/settings.bin"), edited);
        }
        EXPECT_EQ(ReadFile(dir_.File("saved.bin")), deviceBlock) << "--save-settings keeps the block as read";
    }
}

// Nothing to send is no success: the run ends at once with exit status 1 and names the folder.
TEST_F(CliTest, AnEmptyFolderIsNamedAndTheRunEndsAtOnce) {
    StartDevice();
    const ProcessResult r = Cli({"--port", sim_->PtyPath(), "--folder", Files()});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("нет ни одного файла обновления"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("Причина: файлы обновления не найдены в папке " + Files()), std::string::npos) << r.err;
    EXPECT_EQ(r.out.find("Успешно обновлено!"), std::string::npos);
}

TEST_F(CliTest, AFailedRunExitsOneWithOneClearLine) {
    MakeSamples({"AC7811_project.hex", "audioHead.bin", "picHead.bin", "rdfwd.bin"});  // camera data only
    // The device cuts the camera data short; late enough that every packet is queued by then.
    StartDevice({"--notice-after", "0x23@30"});
    const ProcessResult r = Cli({"--port", sim_->PtyPath(), "--folder", Files()});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("Не удалось обновить базу камер!"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Ошибка обновления!"), std::string::npos);
    EXPECT_NE(r.err.find("обновление не удалось: Не удалось обновить базу камер! Причина: устройство прервало "
                         "обновление (уведомление 0x1B)."),
              std::string::npos)
        << r.err;
}

// A file the engine would refuse is named with its reason before any port is opened: the device
// never sees a frame. An empty data file is only a warning: the run goes on without it.
TEST_F(CliTest, ARefusedFileEndsBeforeAnyPortIsOpened) {
    struct Row {
        const char* name;
        const char* file;
        // Replaces the file (already removed) with a bad one; `sample` is the sample set's content.
        std::function<void(const std::string& path, const std::string& sample)> spoil;
        int status;
        const char* message;
        double maxSeconds;
    };
    auto lines = [](const std::string& text) {
        std::vector<size_t> starts = {0};
        for (size_t at = text.find("\r\n"); at != std::string::npos; at = text.find("\r\n", at + 2)) starts.push_back(at + 2);
        return starts;
    };
    const std::vector<uint8_t> sixteen(16, 0x5A);
    const Row rows[] = {
        {"firmware without its load address", "AC7811_project.hex",
         [](const std::string& path, const std::string&) {
             WriteTextFile(path, HexFile({{0x00, 0, {1, 2}}, {0x01, 0, {}}}, "0105\r\n"));
         },
         1, "AC7811_project.hex: запись 1: первая запись не задаёт адрес загрузки (тип 04)\n", 3},
        {"firmware with a bad checksum in record 101", "AC7811_project.hex",
         [&](const std::string& path, std::string text) {
             const size_t end = lines(text)[101] - 2;  // the CR LF after record 101
             text[end - 1] = text[end - 1] == '0' ? '1' : '0';
             WriteTextFile(path, text);
         },
         1, "AC7811_project.hex: запись 101: неверная контрольная сумма\n", 3},
        {"firmware with LF line ends", "AC7811_project.hex",
         [](const std::string& path, std::string text) {
             for (size_t at = text.find("\r\n"); at != std::string::npos; at = text.find("\r\n", at)) text.erase(at, 1);
             WriteTextFile(path, text);
         },
         1, "AC7811_project.hex: запись 1: строка кончается на LF, нужен CR LF\n", 3},
        {"firmware with 32-byte records", "AC7811_project.hex",
         [](const std::string& path, const std::string&) {
             WriteTextFile(path, HexFile({{0x04, 0, {0x08, 0x00}}, {0x00, 0, PseudoRandomBytes(32, 7)}, {0x01, 0, {}}},
                                         "0105\r\n"));
         },
         1, "AC7811_project.hex: запись 2: 32 байт данных, а читается не больше ", 3},
        {"firmware in lower-case digits", "AC7811_project.hex",
         [](const std::string& path, std::string text) {
             for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
             WriteTextFile(path, text);
         },
         1, "AC7811_project.hex: запись 1: знак \"f\" на месте 14 строки не шестнадцатеричная цифра", 3},
        {"firmware with a type-02 record", "AC7811_project.hex",
         [&](const std::string& path, const std::string&) {
             WriteTextFile(path, HexFile({{0x04, 0, {0x08, 0x00}}, {0x02, 0, {0x10, 0x00}}, {0x00, 0, sixteen}, {0x01, 0, {}}},
                                         "0105\r\n"));
         },
         1, "AC7811_project.hex: запись 2: запись адреса сегмента (тип 02) не поддерживается", 3},
        {"camera data as a FIFO", "flagdata.bin",
         [](const std::string& path, const std::string&) { mkfifo(path.c_str(), 0600); }, 1,
         "flagdata.bin: это канал (FIFO), а не файл\n", 3},
        {"camera data as a link to /dev/zero", "flagdata.bin",
         [](const std::string& path, const std::string&) { std::filesystem::create_symlink("/dev/zero", path); }, 1,
         "flagdata.bin: это устройство, а не файл\n", 3},
        {"audio as a sparse file beyond 256 MiB", "audioHead.bin",
         [](const std::string& path, const std::string&) {
             WriteFile(path, {1});
             std::filesystem::resize_file(path, 257ull * 1024 * 1024);
         },
         1, "audioHead.bin: файл слишком велик: 269484032 байт, допускается не больше 256 МиБ\n", 3},
        {"radar firmware as a folder", "rdfwd.bin",
         [](const std::string& path, const std::string&) { std::filesystem::create_directory(path); }, 1,
         "rdfwd.bin: это папка, а не файл\n", 3},
        {"empty pictures", "picHead.bin", [](const std::string& path, const std::string&) { WriteFile(path, {}); }, 0,
         "picHead.bin: файл пуст; этот шаг будет пропущен\n", 20},
        {"empty camera data", "flagdata.bin", [](const std::string& path, const std::string&) { WriteFile(path, {}); }, 0,
         "flagdata.bin: файл пуст; этот шаг будет пропущен\n", 20},
        {"empty radar firmware", "rdfwd.bin", [](const std::string& path, const std::string&) { WriteFile(path, {}); }, 0,
         "rdfwd.bin: файл пуст; этот шаг будет пропущен\n", 20},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        std::filesystem::remove_all(Files());
        std::filesystem::remove_all(Out());
        std::filesystem::create_directories(Out());
        MakeSamples();
        const std::string path = Files() + "/" + row.file;
        const std::vector<uint8_t> sample = ReadFile(path);
        std::filesystem::remove(path);
        row.spoil(path, std::string(sample.begin(), sample.end()));
        StartDevice();
        const ProcessResult r = Cli({"--port", sim_->PtyPath(), "--folder", Files(), "--firmware-pause-ms", "100"});
        EXPECT_EQ(r.status, row.status) << r.err;
        EXPECT_LT(r.seconds, row.maxSeconds);
        EXPECT_NE(r.err.find("iap-cli: " + Files() + "/" + row.message), std::string::npos) << r.err;
        const auto commands = DeviceCommands();
        if (row.status != 0) {
            EXPECT_TRUE(commands.empty()) << "no port may be opened, not even probed";
            EXPECT_NE(r.err.find("к устройству не подключались"), std::string::npos);
        } else {
            // The empty image is not started; every other one arrives whole.
            EXPECT_EQ(ReceivedImagesProblem(Files(), Out()), "");
        }
    }
}

// Line faults, each against a whole run of the sample set: the run either ends with every image
// intact at the device and exit 0, or with exit 1 and its reason, within a bounded time. Never exit 0
// with a damaged image. The sender's wait slice is shortened, so a lost answer ends a run in 1.5 s.
TEST_F(CliTest, LineFaultsEndTheRunCleanlyOrLeaveEveryImageIntact) {
    struct Row {
        const char* name;
        std::vector<std::string> device;  // iap-devsim fault options
        int status;
        double maxSeconds;
        const char* reason;              // in the error line of a failed run
        std::vector<std::string> drop;   // sample files left out (keeps 1-ms-per-byte answers short)
    };
    const Row rows[] = {
        {"lost answer", {"--no-answer", "0x23@5"}, 1, 8, "Причина: устройство перестало отвечать", {}},
        {"rejected data packet", {"--reject", "0x33@3"}, 1, 5, "MCU 参数错误!", {}},
        {"rejected firmware record", {"--reject", "0x06@10"}, 1, 5, "命令无效，请重试!", {}},
        {"rejected firmware end", {"--reject", "0x1A@1"}, 1, 5, "命令无效，请重试!", {}},
        {"corrupted answer", {"--corrupt", "0x38@2"}, 1, 8, "Причина: устройство перестало отвечать", {}},
        {"duplicated ready answers", {"--duplicate", "0x1C@1", "--duplicate", "0x31@1"}, 0, 20, "", {}},
        {"duplicated packet answer", {"--duplicate", "0x23@3"}, 0, 20, "", {}},
        {"device notice mid-image", {"--notice-after", "0x38@5"}, 1, 5, "(уведомление 0x1B)", {}},
        {"hang-up mid-image", {"--hangup", "0x33@4"}, 1, 5, "Причина: связь с устройством потеряна", {}},
        {"split answers", {"--split"}, 0, 20, "", {"AC7811_project.hex"}},
        {"junk before answers", {"--junk"}, 0, 20, "", {}},
        {"junk before the probe answer", {"--probe-junk"}, 0, 20, "", {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        std::filesystem::remove_all(Files());
        MakeSamples(row.drop);
        StartDevice(row.device);
        const ProcessResult r = Cli({"--port", sim_->PtyPath(), "--folder", Files(), "--firmware-pause-ms", "100",
                                     "--test-wait-slice-ms", "500"});
        sim_->Stop();  // its recording is complete once it has gone
        EXPECT_EQ(r.status, row.status) << r.err;
        EXPECT_LT(r.seconds, row.maxSeconds);
        if (r.status == 0) {
            EXPECT_EQ(ReceivedImagesProblem(Files(), Out()), "") << "a run that says success";
        }
        if (row.status != 0) {
            EXPECT_NE(r.err.find("iap-cli: обновление не удалось: "), std::string::npos) << r.err;
            EXPECT_NE(r.err.find(row.reason), std::string::npos) << r.err;
        }
    }
}

// Ctrl-C while the tool waits for the device's settings ends it at once, and no update is started.
TEST_F(CliTest, AnInterruptWhileWaitingForTheSettingsStartsNothing) {
    MakeSamples();
    StartDevice({"--no-answer", "0x47@1", "--no-answer", "0x47@2"});
    std::chrono::steady_clock::time_point interruptedAt{};
    const ProcessResult r = RunProcess(
        {BinPath("iap-cli"), "--port", sim_->PtyPath(), "--folder", Files()}, 30000, {},
        [&](int pid, const ProcessResult& soFar) {
            if (interruptedAt == std::chrono::steady_clock::time_point{} &&
                soFar.out.find("чтение его настроек") != std::string::npos) {
                interruptedAt = std::chrono::steady_clock::now();
                kill(pid, SIGINT);
            }
        });
    ASSERT_NE(interruptedAt, std::chrono::steady_clock::time_point{}) << r.out;
    EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - interruptedAt).count(), 3.0)
        << "the settings wait is 12 s; an interrupt must not sit it out";
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_NE(r.err.find("прервано; обновление не начато"), std::string::npos) << r.err;
    const auto commands = DeviceCommands();
    EXPECT_GE(CountCommand(commands, 0x45), 1) << "connected";
    for (uint8_t start : {0x1C, 0x21, 0x31, 0x36, 0x41, 0x4A}) EXPECT_EQ(CountCommand(commands, start), 0) << int(start);
}

// Ctrl-C during the firmware transfer stops the engine at once: exit 1, no end of the firmware.
TEST_F(CliTest, AnInterruptDuringARunStopsItPromptly) {
    MakeSamples({"flagdata.bin", "audioHead.bin", "picHead.bin", "rdfwd.bin"});
    StartDevice({"--delay-ms", "5"});  // about 8 s for the firmware's records
    std::chrono::steady_clock::time_point interruptedAt{};
    const ProcessResult r = RunProcess(
        {BinPath("iap-cli"), "--port", sim_->PtyPath(), "--folder", Files(), "--plain"}, 60000, {},
        [&](int pid, const ProcessResult& soFar) {
            if (interruptedAt == std::chrono::steady_clock::time_point{} &&
                soFar.out.find("Обновление ПО...") != std::string::npos) {
                interruptedAt = std::chrono::steady_clock::now();
                kill(pid, SIGINT);
            }
        });
    ASSERT_NE(interruptedAt, std::chrono::steady_clock::time_point{}) << r.out;
    EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - interruptedAt).count(), 3.0);
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_NE(r.err.find("обновление прервано пользователем"), std::string::npos) << r.err;
    const auto commands = DeviceCommands();
    EXPECT_EQ(CountCommand(commands, 0x1C), 1);
    EXPECT_EQ(CountCommand(commands, 0x1A), 0) << "the firmware transfer must not be ended as if complete";
}

TEST_F(CliTest, ALostLineEndsTheRunAtOnceWithExitOneAndTheReason) {
    MakeSamples({"AC7811_project.hex"});
    StartDevice({"--hangup", "0x23@3"});
    const ProcessResult r = Cli({"--port", sim_->PtyPath(), "--folder", Files()});
    EXPECT_EQ(r.status, 1) << r.err;
    // Connecting takes a fraction of a second and the device leaves three packets in; waiting out the
    // no-answer slices would take 15 s.
    EXPECT_LT(r.seconds, 3.0);
    EXPECT_NE(r.err.find("обновление не удалось: Не удалось обновить базу камер!"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("связь с устройством потеряна: "), std::string::npos) << r.err;
    EXPECT_EQ(sim_->Stop(), 0) << "the simulator hung up by itself";
}

TEST_F(CliTest, InspectShowsWhatEachFileSends) {
    WriteFile(Files() + "/flagdata.bin", PseudoRandomBytes(10000, 1));
    WriteFile(Files() + "/rdfwd.bin", PseudoRandomBytes(3372, 2));
    WriteFile(Files() + "/picHead.bin", {});
    std::vector<HexRecord> records = HexRecordsFor(0x0800FFF0, PseudoRandomBytes(0x20, 3));
    records.push_back({0x05, 0, {8, 0, 0, 0}});
    records.push_back({0x01, 0, {}});
    WriteTextFile(Files() + "/AC7811_project.hex", HexFile(records, "0107\r\n"));
    WriteTextFile(Files() + "/ver.txt", "AC\x1b" "7811\r\n0107\n0300\n");  // the ESC is not shown
    const ProcessResult r = Cli({"--inspect", "--folder", Files()}, 10000);
    EXPECT_EQ(r.status, 0) << r.err;
    for (const char* piece : {
             "flagdata.bin         10000 байт",
             // Each packet is answered with 7 bytes, the start with 5.
             "пакетов: 3, кадров: 5, байт к устройству: 10025, ответов: 26 байт, линия в обе стороны при 256000 бод: 0.4 с",
             "пакетов: 6, кадров: 8, байт к устройству: 3416, ответов: 47 байт",  // radar: 1024 x3, 128, 128, 44
             "записей: 6, версия: 0107",
             "адреса: 0x0800FFF0..0x0801000F",
             // 2 x (16 + 10), start 7, end 5; answered: start twice, each record, the end
             "пакетов: 2, кадров: 4, байт к устройству: 64, ответов: 31 байт",
             "audioHead.bin        нет",
             "пустой файл",
             "тип устройства   AC7811\n",
             "версия базы      0300",
         })
        EXPECT_NE(r.out.find(piece), std::string::npos) << piece << "\n" << r.out;
    EXPECT_EQ(r.out.find('\x1b'), std::string::npos);

    // A refused file: the same reason as a run gives, and status 1.
    WriteTextFile(Files() + "/AC7811_project.hex", HexFile({{0x00, 0, {1}}, {0x01, 0, {}}}, "0105\r\n"));
    mkfifo((Files() + "/audioHead.bin").c_str(), 0600);
    const ProcessResult refused = Cli({"--inspect", "--folder", Files()}, 10000);
    EXPECT_EQ(refused.status, 1);
    for (const char* piece : {"ОТКАЗ: запись 1: первая запись не задаёт адрес загрузки (тип 04)",
                              "audioHead.bin        (звуковые файлы)\n    ОТКАЗ: это канал (FIFO), а не файл",
                              "flagdata.bin         10000 байт"})
        EXPECT_NE(refused.out.find(piece), std::string::npos) << piece << "\n" << refused.out;
    const ProcessResult missing = Cli({"--inspect", "--folder", dir_.File("nothing-here")}, 10000);
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.out.find("не найдена"), std::string::npos);
}

TEST_F(CliTest, ListPortsNumbersTheGivenPorts) {
    const ProcessResult r = Cli({"--list-ports", "--port", "/dev/first", "--port", "/dev/second"}, 10000);
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("порт 1: /dev/first\nпорт 2: /dev/second\n"), std::string::npos) << r.out;
    const ProcessResult help = Cli({"--help"}, 10000);
    EXPECT_EQ(help.status, 0);
    for (const char* option : {"--port", "--folder", "--settings", "--save-settings", "--firmware-pause-ms", "--trace",
                               "--inspect", "--list-ports", "64"})
        EXPECT_NE(help.out.find(option), std::string::npos) << option;
}

TEST_F(CliTest, APortWithoutPermissionNamesTheDialoutGroup) {
    // Root opens any port, so the program runs as "nobody" against a pseudo-terminal it may not open.
    if (geteuid() != 0) GTEST_SKIP() << "needs root to run the program as another user";
    if (access("/usr/bin/setpriv", X_OK) != 0) GTEST_SKIP() << "needs setpriv (util-linux)";
    const ProcessResult probe =
        RunProcess({"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", BinPath("iap-cli"),
                    "--help"},
                   10000);
    if (probe.status != 0) GTEST_SKIP() << "the build folder is not reachable for an unprivileged user";
    // The update folder must be readable for that user: only the port is meant to be out of reach.
    chmod(dir_.Path().c_str(), 0755);
    chmod(Files().c_str(), 0755);
    PtyPair pty;
    chmod(pty.SlavePath().c_str(), 0600);
    const ProcessResult r = RunProcess({"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups",
                                        BinPath("iap-cli"), "--port", pty.SlavePath(), "--folder", Files()},
                                       20000);
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find(pty.SlavePath() + ": нет доступа к порту"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("dialout"), std::string::npos) << r.err;
}

TEST(PortReportTest, MessagesSayWhatToDo) {
    EXPECT_NE(OpenErrorText(CSerial::OpenError::PermissionDenied).find(L"dialout"), std::wstring::npos);
    const std::wstring none = NoDeviceText({});
    EXPECT_NE(none.find(L"--port"), std::wstring::npos);
    EXPECT_NE(none.find(L"IAP_PORTS"), std::wstring::npos);
    const std::wstring two = NoDeviceText({{"/dev/ttyUSB0", CSerial::OpenError::Busy},
                                           {"/dev/ttyUSB1", CSerial::OpenError::PermissionDenied}});
    EXPECT_NE(two.find(L"/dev/ttyUSB0: порт занят"), std::wstring::npos);
    EXPECT_NE(two.find(L"/dev/ttyUSB1: нет доступа"), std::wstring::npos);
    // The main window names the port it may not open, and says to connect the device.
    const std::wstring status = NoDeviceStatusText({{"/dev/ttyS0", CSerial::OpenError::NoAnswer},
                                                    {"/dev/ttyUSB1", CSerial::OpenError::PermissionDenied}});
    EXPECT_EQ(status.rfind(L"Устройство не найдено. Подключите устройство", 0), 0u);
    EXPECT_NE(status.find(L"/dev/ttyUSB1: нет доступа к порту: добавьте пользователя в группу dialout"), std::wstring::npos);
    EXPECT_EQ(status.find(L"ttyS0"), std::wstring::npos);
}

}  // namespace
