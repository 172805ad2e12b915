// iap-cli as outside scripts use it: exit statuses, messages, settings handling, inspection.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <chrono>
#include <filesystem>
#include <functional>

#include "app/cli/PortReport.h"
#include "base/Text.h"
#include "ui/DisplayText.h"
#include "protocol/IspCodes.h"
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
    // A fresh update folder with the sample set less `drop`, and a fresh device record.
    void MakeSamples(const std::vector<std::string>& drop = {}) {
        for (const std::string& folder : {Files(), Out()}) {
            std::filesystem::remove_all(folder);
            std::filesystem::create_directories(folder);
        }
        ASSERT_EQ(RunProcess({BinPath("iap-devsim"), "--make-samples", Files()}, ScaledMs(10000)).status, 0);
        for (const std::string& name : drop) std::filesystem::remove(Files() + "/" + name);
    }
    void StartDevice(std::vector<std::string> args = {}) {
        args.insert(args.begin(), {"--out", Out()});
        sim_ = std::make_unique<DevSimProcess>(args);
        ASSERT_TRUE(sim_->Started());
    }
    // The program is killed after ScaledMs(timeoutMs) (status -1).
    ProcessResult Cli(std::vector<std::string> args, int timeoutMs = 60000, const ProcessWatch& watch = {}) {
        args.insert(args.begin(), BinPath("iap-cli"));
        return RunProcess(args, ScaledMs(timeoutMs), {}, watch);
    }
    // Starts a device with `device` options and runs iap-cli on its port and the update folder.
    ProcessResult RunOnDevice(const std::vector<std::string>& device, std::vector<std::string> cli = {},
                              const ProcessWatch& watch = {}) {
        StartDevice(device);
        cli.insert(cli.begin(), {"--port", sim_ ? sim_->PtyPath() : "", "--folder", Files()});
        return Cli(cli, 60000, watch);
    }
    // As RunOnDevice, with Ctrl-C once `when` appears in the output; `secondsAfter` is how long the
    // program took to end after it (negative: `when` never appeared).
    ProcessResult InterruptWhen(const std::string& when, const std::vector<std::string>& device,
                                const std::vector<std::string>& cli, double& secondsAfter) {
        std::chrono::steady_clock::time_point at{};
        const ProcessResult r = RunOnDevice(device, cli, [&](int pid, const ProcessResult& soFar) {
            if (at == std::chrono::steady_clock::time_point{} && soFar.out.find(when) != std::string::npos) {
                at = std::chrono::steady_clock::now();
                kill(pid, SIGINT);
            }
        });
        secondsAfter = at == std::chrono::steady_clock::time_point{}
                           ? -1
                           : std::chrono::duration<double>(std::chrono::steady_clock::now() - at).count();
        return r;
    }
    std::vector<uint8_t> DeviceCommands() {
        EXPECT_EQ(sim_->Stop(), 0);
        return CommandsReceived(ReadFrameLog(Out()));
    }
    // "{pty}", "{files}" and "{link}" in an expected text or an option stand for the device's port,
    // the update folder and a link to the device's port (one that stays when the device restarts).
    std::string Expand(std::string text) const {
        for (const auto& [key, value] : {std::pair<std::string, std::string>{"{pty}", sim_ ? sim_->PtyPath() : ""},
                                         {"{files}", Files()}, {"{link}", dir_.Path() + "/ttyRESTART"}})
            for (size_t at = text.find(key); at != std::string::npos; at = text.find(key, at))
                text.replace(at, key.size(), value);
        return text;
    }

    TempDir dir_;
    std::unique_ptr<DevSimProcess> sim_;
};

const std::vector<std::string> kAllButFlag = {"AC7811_project.hex", "audioHead.bin", "picHead.bin", "rdfwd.bin"};
const std::vector<std::string> kRadarOnly = {"AC7811_project.hex", "flagdata.bin", "audioHead.bin", "picHead.bin"};
const std::vector<std::string> kNoFiles = {"AC7811_project.hex", "flagdata.bin", "audioHead.bin",
                                           "picHead.bin",        "rdfwd.bin",    "ver.txt"};
// A short firmware pause; the sender's wait slice is shortened, so a lost answer ends a run in 1.5 s.
const std::vector<std::string> kQuick = {"--firmware-pause-ms", "100", "--test-wait-slice-ms", "500"};

// Whole runs against the device, with and without line faults: a run either ends with every image
// intact at the device and exit 0, or with its exit status and reason. Never exit 0 with a damaged
// image, never a success line on a failed run. The reason says which wait ended a failed run (how long
// a whole run takes is bench/run.sh's business).
TEST_F(CliTest, EveryRunEndsAsItSays) {
    struct Row {
        const char* name;
        std::vector<std::string> device;  // iap-devsim options, fault options among them
        std::vector<std::string> drop;    // sample files left out (keeps 1-ms-per-byte answers short)
        std::vector<std::string> cli;     // besides --port and --folder
        int status;
        bool soon;  // ends within a few seconds, not after the no-answer slices
        std::vector<std::string> out, err;  // pieces of standard output and standard error
    };
    const std::string failed = "iap-cli: обновление не удалось: ";
    const Row rows[] = {
        {"whole run", {}, {}, {"--firmware-pause-ms", "100"}, 0, false,
         {"Тип устройства: AC7811", "0012", "0105", "1a2b", "Старт обновления...", "Обновление ПО прошло успешно!",
          "Обновление ПО радарной части прошло успешно!", "Успешно обновлено!", "Время обновления: 00:00:",
          "Итог (256000 бод", "% предела линии  ", "записей/с",
          // The firmware's total is the records sent, as --inspect counts them.
          "Обновление ПО... (1536)", "100% (1536/1536)", "Завершение ПО подтверждено устройством с кодом 2"},
         {}},
        // Nothing to send is no success: the run ends at once and names the folder.
        {"empty folder", {}, kNoFiles, {}, 1, false, {},
         {"нет ни одного файла обновления", "Причина: файлы обновления не найдены в папке {files}"}},
        {"no device on any port", {"--silent"}, {}, {"--port", "{files}/no-such-port"}, 2, false,
         {}, {"Устройство не ответило ни на одном порту", "{files}/no-such-port: нет такого порта", "{pty}: устройство не ответило"}},
        // The device cuts the camera data short; late enough that every packet is queued by then.
        {"device notice late in the data", {"--notice-after", "0x23@30"}, kAllButFlag, {}, 1, false,
         {"Не удалось обновить базу камер!", "Ошибка обновления!"},
         {failed + "Не удалось обновить базу камер! Причина: устройство прервало обновление (уведомление 0x1B)."}},
        // Connecting takes a fraction of a second and the device leaves three packets in; waiting out
        // the no-answer slices would take 15 s (and give their reason). The simulator hangs up and
        // ends by itself.
        {"lost line", {"--hangup", "0x23@3"}, {"AC7811_project.hex"}, {}, 1, true, {},
         {failed + "Не удалось обновить базу камер!", "связь с устройством потеряна: "}},
        {"lost answer", {"--no-answer", "0x23@5"}, {}, kQuick, 1, false, {}, {failed, "Причина: устройство перестало отвечать"}},
        {"rejected data packet", {"--reject", "0x33@3"}, {}, kQuick, 1, false, {}, {failed, "MCU 参数错误!"}},
        {"rejected firmware record", {"--reject", "0x06@10"}, {}, kQuick, 1, false, {}, {failed, "命令无效，请重试!"}},
        {"rejected firmware end", {"--reject", "0x1A@1"}, {}, kQuick, 1, false, {}, {failed, "命令无效，请重试!"}},
        {"corrupted answer", {"--corrupt", "0x38@2"}, {}, kQuick, 1, false, {}, {failed, "Причина: устройство перестало отвечать"}},
        {"duplicated ready answers", {"--duplicate", "0x1C@1", "--duplicate", "0x31@1"}, {}, kQuick, 0, false, {}, {}},
        // The tool cannot tell a duplicate from an answer, and went one packet ahead of the device.
        {"duplicated packet answer", {"--duplicate", "0x23@3"}, {}, kQuick, 1, false, {},
         {failed + "Не удалось обновить базу камер! Причина: устройство ответило больше раз, чем его спросили."}},
        {"duplicated answer, then a refused packet", {"--dup-then-refuse", "0x33@4"}, {}, kQuick, 1, false, {},
         {failed + "Не удалось обновить звуковые файлы! Причина: устройство отклонило пакет (код 0): MCU 参数错误!"}},
        {"duplicated firmware record answer, then a refused record", {"--dup-then-refuse", "0x06@700"}, {}, kQuick, 1,
         false, {}, {failed + "Не удалось обновить ПО! Причина: устройство отклонило пакет (код 3)"}},
        // Answers nobody asked for, before the answer to camera-data packet 2 (frame 7: two 'E', 'G',
        // 'I', the data start, packet 1): a settings write's, and the other images' ready answers.
        {"stray settings-written answer", {"--stray-answer", "0x4B@7"}, kAllButFlag, kQuick, 0, false, {}, {}},
        {"stray audio ready answer", {"--stray-answer", "0x32@7", "--stray-answer", "0x37@8", "--stray-answer", "0x42@9"},
         kAllButFlag, kQuick, 0, false, {}, {}},
        {"stray firmware answers in the camera data", {"--stray-answer", "0x19@7", "--stray-answer", "0x1C@8",
                                                       "--stray-answer", "0x46@9", "--stray-answer", "0x48@10"},
         kAllButFlag, kQuick, 0, false, {}, {}},
        // Frame 6 is the first firmware record: the camera data's ready answer in the firmware.
        {"stray camera ready in the firmware", {"--stray-answer", "0x22@6", "--stray-answer", "0x4B@1542"}, {}, kQuick,
         0, false, {}, {}},
        // A stray result of the image being sent (frame 1650 is an audio packet) cannot be told from its
        // answer: one too many.
        {"stray packet result", {"--stray-answer", "0x34@1650"}, {}, kQuick, 1, false, {},
         {failed + "Не удалось обновить звуковые файлы! Причина: устройство ответило больше раз, чем его спросили."}},
        {"device information echoing another byte", {"--info-echo", "0x00"}, kAllButFlag, kQuick, 0, false, {}, {}},
        {"device notice mid-image", {"--notice-after", "0x38@5"}, {}, kQuick, 1, false, {}, {failed, "(уведомление 0x1B)"}},
        {"hang-up mid-image", {"--hangup", "0x33@4"}, {}, kQuick, 1, false, {}, {failed, "Причина: связь с устройством потеряна"}},
        // The device stops reading with eight packets answered ahead: the ninth write cannot finish.
        // Without a bound on it the run would stand still, since no answer can end a write.
        {"device stops reading", {"--stop-reading-after", "0x23@2"}, {"AC7811_project.hex"}, {}, 1, false, {},
         {failed + "Не удалось обновить базу камер! Причина: устройство не принимает данные (из 4101 байт кадра за "}},
        // The device re-enumerates after its firmware, as a USB device with its own serial interface
        // does: its port goes away during the pause and comes back; the run goes on with every image.
        {"restart after the firmware", {"--link", "{link}", "--restart-reopen", "0.3,2"}, {},
         {"--port", "{link}", "--wait-device", "60", "--firmware-pause-ms", "1000"}, 0, false,
         {"Обновление ПО прошло успешно!", "Обновление ПО радарной части прошло успешно!", "Успешно обновлено!"}, {}},
        {"restart without coming back", {"--link", "{link}", "--restart-reopen", "0.3,60"}, {},
         {"--port", "{link}", "--firmware-pause-ms", "1000"}, 1, false, {"Обновление ПО прошло успешно!"},
         {failed + "Не удалось обновить базу камер! Причина: ПО устройства записано, но после перезапуска "
                   "устройство не вернулось на связь; запустите обновление ещё раз, чтобы передать остальное."}},
        {"split answers", {"--split"}, {"AC7811_project.hex"}, kQuick, 0, false, {}, {}},
        {"junk before answers", {"--junk"}, {}, kQuick, 0, false, {}, {}},
        {"junk before the probe answer", {"--probe-junk"}, {}, kQuick, 0, false, {}, {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        MakeSamples(row.drop);
        std::vector<std::string> cli;
        for (const std::string& arg : row.cli) cli.push_back(Expand(arg));
        std::vector<std::string> device;
        for (const std::string& arg : row.device) device.push_back(Expand(arg));
        // A device that restarts is reached through its link alone: the pty path it had may be taken
        // by another pseudo-terminal meanwhile.
        const bool throughLink = std::find(row.cli.begin(), row.cli.end(), "{link}") != row.cli.end();
        ProcessResult r;
        if (throughLink) {
            StartDevice(device);
            cli.insert(cli.begin(), {"--folder", Files()});
            r = Cli(cli);
        } else {
            r = RunOnDevice(device, cli);
        }
        EXPECT_EQ(sim_->Stop(), 0);  // its recording is complete once it has gone
        EXPECT_EQ(r.status, row.status) << r.err << "\nafter " << r.seconds << " s";
        if (row.soon) {
            EXPECT_LT(r.seconds * 1000, ScaledMs(5000)) << "the run took " << r.seconds << " s";
        }
        for (const std::string& piece : row.out) EXPECT_NE(r.out.find(Expand(piece)), std::string::npos) << piece << "\n" << r.out;
        for (const std::string& piece : row.err) EXPECT_NE(r.err.find(Expand(piece)), std::string::npos) << piece << "\n" << r.err;
        EXPECT_EQ(r.out.find("\x1b"), std::string::npos) << "not a terminal: plain lines";
        const size_t strays = static_cast<size_t>(std::count(row.device.begin(), row.device.end(), "--stray-answer"));
        const std::vector<uint8_t> logBytes = ReadFile(Out() + "/frames.log");
        const std::string log(logBytes.begin(), logBytes.end());
        size_t sent = 0;
        for (size_t at = log.find("# fault: stray answer"); at != std::string::npos; at = log.find("# fault: stray answer", at + 1)) ++sent;
        EXPECT_EQ(sent, strays) << "the device sent other strays than asked";
        if (r.status == 0) {
            EXPECT_TRUE(r.err.empty()) << r.err;
            EXPECT_EQ(ReceivedImagesProblem(Files(), Out()), "") << "a run that says success";
        } else {
            EXPECT_EQ(r.out.find("Успешно обновлено!"), std::string::npos);
        }
        // A firmware the device confirmed is never reported as failed afterwards.
        if (r.out.find("Обновление ПО прошло успешно!") != std::string::npos) {
            EXPECT_EQ(r.out.find("Не удалось обновить ПО!"), std::string::npos) << r.out;
        }
    }
}

// A device whose every answer comes 16 ms late (as through a USB adapter's latency timer): the run
// says once that the adapter holds the answers back and how to change it, and goes on to its end. A
// device that answers at once gets no such word. A small firmware keeps the slow run short.
TEST_F(CliTest, ASlowAdapterIsNamedOnceAndTheRunGoesOn) {
    const std::string notice = "Адаптер USB-COM задерживает каждый ответ устройства примерно на ";
    for (const char* delayMs : {"16", "0"}) {
        SCOPED_TRACE(std::string("--delay-ms ") + delayMs);
        MakeSamples({"AC7811_project.hex", "flagdata.bin", "audioHead.bin", "picHead.bin", "rdfwd.bin"});
        std::vector<HexRecord> firmware = HexRecordsFor(0x0800C000, PseudoRandomBytes(48 * 16, 31));
        firmware.push_back({0x01, 0, {}});
        WriteTextFile(Files() + "/AC7811_project.hex", HexFile(firmware, "0105\r\n"));
        const ProcessResult r = RunOnDevice({"--delay-ms", delayMs}, {"--firmware-pause-ms", "100"});
        EXPECT_EQ(sim_->Stop(), 0);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_TRUE(r.err.empty()) << r.err;
        EXPECT_NE(r.out.find("Успешно обновлено!"), std::string::npos) << r.out;
        EXPECT_EQ(ReceivedImagesProblem(Files(), Out()), "");
        size_t notices = 0;
        for (size_t at = r.out.find(notice); at != std::string::npos; at = r.out.find(notice, at + 1)) ++notices;
        EXPECT_EQ(notices, std::string(delayMs) == "0" ? 0u : 1u) << r.out;
        if (notices == 1) {
            // On its own line, during the firmware, with the steps that lower the timer.
            EXPECT_NE(r.out.find("\n" + notice), std::string::npos);
            EXPECT_LT(r.out.find(notice), r.out.find("Обновление ПО прошло успешно!"));
            EXPECT_NE(r.out.find("latency_timer"), std::string::npos) << r.out;
        }
    }
}

// A device plugged in 4 s after the start is found while waiting; a port that is there and silent
// (some other serial device) is not probed again within 10 s.
TEST_F(CliTest, WaitDeviceFindsADevicePluggedInLater) {
    MakeSamples(kRadarOnly);
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

    // Without the option: one scan, exit status 2, no waiting.
    const ProcessResult once = Cli({"--port", dir_.Path() + "/ttyNONE", "--folder", Files()}, 20000);
    EXPECT_EQ(once.status, 2) << once.err << "\nafter " << once.seconds << " s";
    EXPECT_EQ(once.out.find("поиск продолжается"), std::string::npos) << once.out;
}

// Runs that need no device: usage errors (64), help, the port list and inspecting a missing folder.
TEST_F(CliTest, OptionWordsAreCheckedBeforeAnyPortIsOpened) {
    WriteFile(dir_.File("short.bin"), std::vector<uint8_t>(72, 1));
    struct Row {
        std::vector<std::string> args;
        int status;
        std::vector<std::string> out, err;
        bool shared;  // an option iap-tool takes too: it must refuse it with the same words (status 1)
    };
    const std::vector<Row> rows = {
        {{"--bogus"}, 64, {}, {"неизвестный параметр: --bogus"}, true},
        {{"--port"}, 64, {}, {"параметру --port нужно значение"}, true},
        {{"--port", "/dev/a", "--folder"}, 64, {}, {"параметру --folder нужно значение"}, true},
        {{"--folder", ""}, 64, {}, {"у параметра --folder пустое значение"}, true},
        {{"--port", "", "--port", "/dev/a"}, 64, {}, {"у параметра --port пустое значение"}, true},
        {{"stray"}, 64, {}, {"неизвестный параметр: stray"}, false},
        {{"--firmware-pause-ms", "soon"}, 64, {}, {"--firmware-pause-ms"}, false},
        {{"--test-wait-slice-ms", "0"}, 64, {}, {"--test-wait-slice-ms"}, false},
        {{"--wait-device", "0"}, 64, {}, {"--wait-device"}, false},
        {{"--settings", dir_.File("missing.bin"), "--port", "/nonexistent"}, 64, {}, {"не открывается"}, false},
        {{"--settings", dir_.File("short.bin"), "--port", "/nonexistent"}, 64, {}, {"ровно 73 байта"}, false},
        {{"--port", "/dev/a", "/dev/b"}, 64, {}, {"неизвестный параметр: /dev/b"}, false},
        {{"--"}, 64, {}, {"неизвестный параметр: --"}, true},
        {{"--plain=yes"}, 64, {}, {"параметр --plain не принимает значения"}, false},
        {{"--help=no"}, 64, {}, {"параметр --help не принимает значения"}, true},
        {{"--list-ports", "--port", "/dev/first", "--port", "/dev/second"}, 0, {"порт 1: /dev/first\nпорт 2: /dev/second\n"}, {}, false},
        {{"--help"}, 0, {"Вызов: iap-cli [--port PORT]... [--folder DIR]", "--port", "--folder", "--settings", "--save-settings",
                         "--firmware-pause-ms", "--trace", "--inspect", "--list-ports", "--help, -h", "Коды завершения:", "64"}, {}, false},
        // The mode given last decides.
        {{"--help", "--list-ports", "--port", "/dev/first"}, 0, {"порт 1: /dev/first\n"}, {}, false},
        {{"--list-ports", "-h"}, 0, {"Коды завершения:"}, {}, false},
        {{"--inspect", "--folder", dir_.File("nothing-here")}, 1, {"не найдена"}, {}, false},
        {{"--inspect", "--folder=" + dir_.File("nothing-here")}, 1, {"\"" + dir_.File("nothing-here") + "/\" не найдена"}, {}, false},
    };
    const bool withTool = std::filesystem::exists(BinPath("iap-tool"));
    for (const Row& row : rows) {
        SCOPED_TRACE(row.args[0] + (row.err.empty() ? "" : " " + row.err[0]));
        const ProcessResult r = Cli(row.args, 10000);
        EXPECT_EQ(r.status, row.status);
        for (const std::string& piece : row.out) EXPECT_NE(r.out.find(piece), std::string::npos) << piece << "\n" << r.out;
        for (const std::string& piece : row.err) EXPECT_NE(r.err.find(piece), std::string::npos) << piece << "\n" << r.err;
        if (!row.shared || !withTool) continue;
        std::vector<std::string> args = row.args;
        args.insert(args.begin(), BinPath("iap-tool"));
        const ProcessResult tool = RunProcess(args, ScaledMs(10000));
        EXPECT_EQ(tool.status, 1);
        EXPECT_NE(tool.err.find("iap-tool: " + row.err[0] + "\n"), std::string::npos) << tool.err;
    }
    // A switch for the tests is not offered to users.
    EXPECT_EQ(Cli({"--help"}, 10000).out.find("--test-wait-slice-ms"), std::string::npos);
}

TEST_F(CliTest, SettingsAreWrittenOnlyWhenEditedAndThenOnceAtTheEnd) {
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
        MakeSamples(kRadarOnly);
        const ProcessResult r = RunOnDevice({"--settings", dir_.File("device.bin")},
                                            {"--settings", dir_.File(row.file), "--save-settings", dir_.File("saved.bin")});
        EXPECT_EQ(r.status, 0) << r.err;
        const auto commands = DeviceCommands();
        EXPECT_EQ(ReceivedImagesProblem(Files(), Out()), "") << "the image goes with the settings";
        EXPECT_EQ(CountCommand(commands, 0x4A), row.writes);
        if (row.writes) {
            EXPECT_EQ(commands.back(), 0x4A) << "the settings are written at the end of the run";
            EXPECT_EQ(ReadFile(Out() + "/settings.bin"), edited);
        }
        EXPECT_EQ(ReadFile(dir_.File("saved.bin")), deviceBlock) << "--save-settings keeps the block as read";
    }
}

// A settings answer of the wrong size is no block of the device's: --save-settings has nothing to save
// and writes no file, and nothing is written back to the device.
TEST_F(CliTest, ASettingsAnswerOfTheWrongSizeIsNeverSaved) {
    for (const char* bytes : {"10", "0", "74"}) {
        SCOPED_TRACE(bytes);
        MakeSamples(kRadarOnly);
        std::filesystem::remove(dir_.File("saved.bin"));
        const ProcessResult r = RunOnDevice({"--short-settings", bytes}, {"--save-settings", dir_.File("saved.bin")});
        EXPECT_EQ(r.status, 1) << r.err;
        EXPECT_NE(r.err.find("iap-cli: устройство не прислало свои настройки; сохранять нечего"), std::string::npos) << r.err;
        EXPECT_EQ(r.out.find("Настройки устройства сохранены"), std::string::npos) << r.out;
        EXPECT_FALSE(std::filesystem::exists(dir_.File("saved.bin")));
        const auto commands = DeviceCommands();
        EXPECT_EQ(CountCommand(commands, CMD_WRITE_SETTINGS), 0);
        EXPECT_EQ(CountCommand(commands, CMD_RADAR_START), 0);
    }
}

// A port named COMn is port n to the device, wherever it stands in the list: the probe and the
// information request carry its number, as a scan of the system's COM ports would.
TEST_F(CliTest, APortNamedComNTellsTheDeviceItsNumber) {
    MakeSamples(kRadarOnly);
    StartDevice();
    std::filesystem::create_symlink(sim_->PtyPath(), dir_.File("com7"));
    const ProcessResult r = RunProcess(
        {"/bin/sh", "-c", "cd '" + dir_.Path() + "' && exec '" + BinPath("iap-cli") + "' --port ttyNONE --port com7 --folder '" +
                              Files() + "'"},
        ScaledMs(60000));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(sim_->Stop(), 0);
    std::vector<int> portBytes;
    for (const LoggedFrame& f : ReadFrameLog(Out()))
        if (f.fromTool && f.Cmd() == CMD_DEVICE_INFO && f.bytes.size() > 4) portBytes.push_back(f.bytes[4]);
    // The probe and the request, through "com7" (the list's second entry): 7, not 2.
    EXPECT_EQ(portBytes, (std::vector<int>{7, 7}));
}

// A file the engine would refuse is named with its reason before any port is opened: the device
// never sees a frame. An empty data file is only a warning: the run goes on without it.
TEST_F(CliTest, ARefusedFileEndsBeforeAnyPortIsOpened) {
    // Replaces the file (already removed) at `path` with a bad one; `text` is the sample set's content.
    using Spoil = std::function<void(const std::string& path, std::string text)>;
    struct Row {
        const char* name;
        const char* file;
        Spoil spoil;
        int status;
        const char* message;
    };
    auto lines = [](const std::string& text) {
        std::vector<size_t> starts = {0};
        for (size_t at = text.find("\r\n"); at != std::string::npos; at = text.find("\r\n", at + 2)) starts.push_back(at + 2);
        return starts;
    };
    auto firmware = [](std::vector<HexRecord> records) -> Spoil {
        return [records](const std::string& path, std::string) { WriteTextFile(path, HexFile(records, "0105\r\n")); };
    };
    const Spoil empty = [](const std::string& path, std::string) { WriteFile(path, {}); };
    const Row rows[] = {
        {"firmware without its load address", "AC7811_project.hex", firmware({{0x00, 0, {1, 2}}, {0x01, 0, {}}}), 1,
         "AC7811_project.hex: запись 1: первая запись не задаёт адрес загрузки (тип 04)\n"},
        {"firmware with a bad checksum in record 101", "AC7811_project.hex",
         [&](const std::string& path, std::string text) {
             const size_t end = lines(text)[101] - 2;  // the CR LF after record 101
             text[end - 1] = text[end - 1] == '0' ? '1' : '0';
             WriteTextFile(path, text);
         },
         1, "AC7811_project.hex: запись 101: неверная контрольная сумма\n"},
        {"firmware with LF line ends", "AC7811_project.hex",
         [](const std::string& path, std::string text) {
             for (size_t at = text.find("\r\n"); at != std::string::npos; at = text.find("\r\n", at)) text.erase(at, 1);
             WriteTextFile(path, text);
         },
         1, "AC7811_project.hex: запись 1: строка кончается на LF, нужен CR LF\n"},
        {"firmware with 32-byte records", "AC7811_project.hex",
         firmware({{0x04, 0, {0x08, 0x00}}, {0x00, 0, PseudoRandomBytes(32, 7)}, {0x01, 0, {}}}), 1,
         "AC7811_project.hex: запись 2: 32 байт данных, а читается не больше "},
        {"firmware in lower-case digits", "AC7811_project.hex",
         [](const std::string& path, std::string text) {
             for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
             WriteTextFile(path, text);
         },
         1, "AC7811_project.hex: запись 1: знак \"f\" на месте 14 строки не шестнадцатеричная цифра"},
        {"firmware with a type-02 record", "AC7811_project.hex",
         firmware({{0x04, 0, {0x08, 0x00}}, {0x02, 0, {0x10, 0x00}}, {0x00, 0, std::vector<uint8_t>(16, 0x5A)}, {0x01, 0, {}}}),
         1, "AC7811_project.hex: запись 2: запись адреса сегмента (тип 02) не поддерживается"},
        {"camera data as a FIFO", "flagdata.bin", [](const std::string& path, std::string) { mkfifo(path.c_str(), 0600); },
         1, "flagdata.bin: это канал (FIFO), а не файл\n"},
        {"camera data as a link to /dev/zero", "flagdata.bin",
         [](const std::string& path, std::string) { std::filesystem::create_symlink("/dev/zero", path); }, 1,
         "flagdata.bin: это устройство, а не файл\n"},
        {"audio as a sparse file beyond 256 MiB", "audioHead.bin",
         [](const std::string& path, std::string) {
             WriteFile(path, {1});
             std::filesystem::resize_file(path, 257ull * 1024 * 1024);
         },
         1, "audioHead.bin: файл слишком велик: 269484032 байт, допускается не больше 256 МиБ\n"},
        {"radar firmware as a folder", "rdfwd.bin",
         [](const std::string& path, std::string) { std::filesystem::create_directory(path); }, 1,
         "rdfwd.bin: это папка, а не файл\n"},
        {"empty pictures", "picHead.bin", empty, 0, "picHead.bin: файл пуст; этот шаг будет пропущен\n"},
        {"empty camera data", "flagdata.bin", empty, 0, "flagdata.bin: файл пуст; этот шаг будет пропущен\n"},
        {"empty radar firmware", "rdfwd.bin", empty, 0, "rdfwd.bin: файл пуст; этот шаг будет пропущен\n"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        MakeSamples();
        const std::string path = Files() + "/" + row.file;
        const std::vector<uint8_t> sample = ReadFile(path);
        std::filesystem::remove(path);
        row.spoil(path, std::string(sample.begin(), sample.end()));
        const ProcessResult r = RunOnDevice({}, {"--firmware-pause-ms", "100"});
        EXPECT_EQ(r.status, row.status) << r.err;
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

// Ctrl-C while the tool waits for the device's settings ends it at once, and no update is started.
TEST_F(CliTest, AnInterruptWhileWaitingForTheSettingsStartsNothing) {
    MakeSamples();
    double after = 0;
    const ProcessResult r = InterruptWhen("чтение его настроек", {"--no-answer", "0x47@1", "--no-answer", "0x47@2"}, {}, after);
    ASSERT_GE(after, 0) << r.out;
    // Generous for a slow build, yet below the 12 s settings wait that the interrupt must cut short.
    EXPECT_LT(after * 1000, std::min(ScaledMs(3000), 11000)) << "ended " << after << " s after the interrupt";
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_NE(r.err.find("прервано; обновление не начато"), std::string::npos) << r.err;
    const auto commands = DeviceCommands();
    EXPECT_GE(CountCommand(commands, 0x45), 1) << "connected";
    for (uint8_t start : {0x1C, 0x21, 0x31, 0x36, 0x41, 0x4A}) EXPECT_EQ(CountCommand(commands, start), 0) << int(start);
}

// Ctrl-C during the firmware transfer stops the engine at once: exit 1, no end of the firmware.
TEST_F(CliTest, AnInterruptDuringARunStopsItPromptly) {
    MakeSamples({"flagdata.bin", "audioHead.bin", "picHead.bin", "rdfwd.bin"});
    double after = 0;
    // About 8 s for the firmware's records.
    const ProcessResult r = InterruptWhen("Обновление ПО...", {"--delay-ms", "5"}, {"--plain"}, after);
    ASSERT_GE(after, 0) << r.out;
    EXPECT_LT(after * 1000, ScaledMs(3000)) << "ended " << after << " s after the interrupt";
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_NE(r.err.find("обновление прервано пользователем"), std::string::npos) << r.err;
    const auto commands = DeviceCommands();
    EXPECT_EQ(CountCommand(commands, 0x1C), 1);
    EXPECT_EQ(CountCommand(commands, 0x1A), 0) << "the firmware transfer must not be ended as if complete";
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
}

TEST_F(CliTest, APortWithoutPermissionNamesTheDialoutGroup) {
    // Root opens any port, so the program runs as "nobody" against a pseudo-terminal it may not open.
    if (geteuid() != 0) GTEST_SKIP() << "needs root to run the program as another user";
    if (access("/usr/bin/setpriv", X_OK) != 0) GTEST_SKIP() << "needs setpriv (util-linux)";
    const ProcessResult probe =
        RunProcess({"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", BinPath("iap-cli"),
                    "--help"},
                   ScaledMs(10000));
    if (probe.status != 0) GTEST_SKIP() << "the build folder is not reachable for an unprivileged user";
    // The update folder must be readable for that user: only the port is meant to be out of reach.
    chmod(dir_.Path().c_str(), 0755);
    chmod(Files().c_str(), 0755);
    PtyPair pty;
    chmod(pty.SlavePath().c_str(), 0600);
    const ProcessResult r = RunProcess({"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups",
                                        BinPath("iap-cli"), "--port", pty.SlavePath(), "--folder", Files()},
                                       ScaledMs(20000));
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find(pty.SlavePath() + ": нет доступа к порту"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("dialout"), std::string::npos) << r.err;
}

TEST(PortReportTest, MessagesSayWhatToDo) {
    EXPECT_NE(PortFindingText(PortFinding::PermissionDenied).find(L"dialout"), std::wstring::npos);
    const std::wstring none = NoDeviceText({});
    EXPECT_NE(none.find(L"--port"), std::wstring::npos);
    EXPECT_NE(none.find(L"IAP_PORTS"), std::wstring::npos);
    const std::wstring two = NoDeviceText({{"/dev/ttyUSB0", PortFinding::Busy},
                                           {"/dev/ttyUSB1", PortFinding::PermissionDenied}});
    EXPECT_NE(two.find(L"/dev/ttyUSB0: порт занят"), std::wstring::npos);
    EXPECT_NE(two.find(L"/dev/ttyUSB1: нет доступа"), std::wstring::npos);
    // The main window names the port it may not open, and says to connect the device.
    const std::wstring status = NoDeviceStatusText({{"/dev/ttyS0", PortFinding::NoAnswer},
                                                    {"/dev/ttyUSB1", PortFinding::PermissionDenied}});
    EXPECT_EQ(status.rfind(L"Устройство не найдено. Подключите устройство", 0), 0u);
    EXPECT_NE(status.find(L"/dev/ttyUSB1: нет доступа к порту: добавьте пользователя в группу dialout"), std::wstring::npos);
    EXPECT_EQ(status.find(L"ttyS0"), std::wstring::npos);
    // A port another program holds is said first, with what to do; not "no device".
    const std::wstring busy = NoDeviceStatusText({{"/dev/ttyS0", PortFinding::NoAnswer},
                                                  {"/dev/ttyUSB0", PortFinding::Busy}});
    EXPECT_EQ(busy.rfind(L"Порт /dev/ttyUSB0 занят другой программой. Закройте программу", 0), 0u) << WideToUtf8(busy);
    EXPECT_EQ(busy.find(L"не найдено"), std::wstring::npos);
    EXPECT_NE(PortFindingText(PortFinding::Busy).find(L"закройте"), std::wstring::npos);
}

}  // namespace
