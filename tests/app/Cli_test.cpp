// iap-cli as outside scripts use it: exit statuses, messages, settings handling, inspection.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>

#include "app/cli/PortReport.h"
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
                              "Успешно обновлено!", "Время обновления: 00:00:", "Итог:", "байт/с"})
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

TEST_F(CliTest, UsageErrorsExitSixtyFour) {
    WriteFile(dir_.File("short.bin"), std::vector<uint8_t>(72, 1));
    struct Row {
        std::vector<std::string> args;
        const char* message;
    };
    const std::vector<Row> rows = {
        {{"--bogus"}, "неизвестный параметр: --bogus"},
        {{"--port"}, "нужно значение"},
        {{"--firmware-pause-ms", "soon"}, "--firmware-pause-ms"},
        {{"--settings", dir_.File("missing.bin"), "--port", "/nonexistent"}, "не открывается"},
        {{"--settings", dir_.File("short.bin"), "--port", "/nonexistent"}, "ровно 73 байта"},
    };
    for (const Row& row : rows) {
        const ProcessResult r = Cli(row.args, 10000);
        EXPECT_EQ(r.status, 64) << row.message;
        EXPECT_NE(r.err.find(row.message), std::string::npos) << r.err;
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

TEST_F(CliTest, AnEmptyFolderIsNamedAndTheRunEndsAtOnce) {
    StartDevice();
    const ProcessResult r = Cli({"--port", sim_->PtyPath(), "--folder", Files()});
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.err.find("нет ни одного файла обновления"), std::string::npos) << r.err;
    EXPECT_NE(r.out.find("Успешно обновлено!"), std::string::npos);
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
// never sees a frame. An empty data file is only a warning.
TEST_F(CliTest, ARefusedFileEndsBeforeAnyPortIsOpened) {
    struct Row {
        const char* name;
        const char* file;
        std::function<void(const std::string& path)> spoil;
        int status;
        const char* message;
    };
    const Row rows[] = {
        {"firmware without its load address", "AC7811_project.hex",
         [](const std::string& path) { WriteTextFile(path, HexFile({{0x00, 0, {1, 2}}, {0x01, 0, {}}}, "0105\r\n")); },
         1, "AC7811_project.hex: запись 1: первая запись не задаёт адрес загрузки (тип 04)\n"},
        {"firmware with a bad checksum", "AC7811_project.hex",
         [](const std::string& path) {
             std::string text = HexFile({{0x04, 0, {0x08, 0x00}}, {0x00, 0x10, {1, 2}}, {0x01, 0, {}}}, "0105\r\n");
             text[text.find("\r\n") + 2 + 13] ^= 0x01;  // a checksum digit of record 2
             WriteTextFile(path, text);
         },
         1, "AC7811_project.hex: запись 2: неверная контрольная сумма\n"},
        {"camera data as a FIFO", "flagdata.bin", [](const std::string& path) { mkfifo(path.c_str(), 0600); }, 1,
         "flagdata.bin: это канал (FIFO), а не файл\n"},
        {"radar firmware as a folder", "rdfwd.bin",
         [](const std::string& path) { std::filesystem::create_directory(path); }, 1,
         "rdfwd.bin: это папка, а не файл\n"},
        {"empty pictures", "picHead.bin", [](const std::string& path) { WriteFile(path, {}); }, 0,
         "picHead.bin: файл пуст; этот шаг будет пропущен\n"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        std::filesystem::remove_all(Files());
        std::filesystem::remove_all(Out());
        std::filesystem::create_directories(Out());
        MakeSamples({row.file});
        row.spoil(Files() + "/" + row.file);
        StartDevice();
        const ProcessResult r = Cli({"--port", sim_->PtyPath(), "--folder", Files(), "--firmware-pause-ms", "100"});
        EXPECT_EQ(r.status, row.status) << r.err;
        EXPECT_NE(r.err.find("iap-cli: " + Files() + "/" + row.message), std::string::npos) << r.err;
        const auto commands = DeviceCommands();
        if (row.status != 0) {
            EXPECT_TRUE(commands.empty()) << "no port may be opened, not even probed";
            EXPECT_NE(r.err.find("к устройству не подключались"), std::string::npos);
        } else {
            EXPECT_EQ(CountCommand(commands, 0x36), 0) << "the empty image is not started";
            EXPECT_EQ(CountCommand(commands, 0x41), 1) << "the others are sent";
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
             "пакетов: 3, кадров: 5, байт по линии: 10025, передача при 256000 бод: 0.4 с",
             "пакетов: 6, кадров: 8, байт по линии: 3416",       // radar: 1024 x3, 128, 128, 44
             "записей: 6, версия: 0107",
             "адреса: 0x0800FFF0..0x0801000F",
             "пакетов: 2, кадров: 4, байт по линии: 64",         // 2 x (16 + 10), start 7, end 5
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
}

}  // namespace
