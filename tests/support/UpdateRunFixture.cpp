#include "support/UpdateRunFixture.h"

#include <filesystem>

#include "engine/ImageTable.h"
#include "base/Text.h"
#include "base/Trace.h"
#include "transport/PortList.h"
#include "transport/Serial.h"

using namespace testsupport;

void UpdateRunTest::SetUp() {
    SetTraceFile(nullptr);
    std::filesystem::create_directories(FilesDir());
    std::filesystem::create_directories(OutDir());
    EngineOptions options;
    options.firmwarePauseMs = 50;
    engine_.SetOptions(options);
    engine_.SetSettingsPending(0);
    engine_.SetNotifyWindow(&window_);
}

void UpdateRunTest::TearDown() {
    engine_.StopEngine();
    engine_.SetNotifyWindow(nullptr);
    engine_.SetSettingsPending(0);
    SetPortList({});
    sim_.reset();
    SetTraceFile(stdout);
}

void UpdateRunTest::UseSamples(const std::vector<std::string>& keep) {
    const ProcessResult made = RunProcess({BinPath("iap-devsim"), "--make-samples", FilesDir()}, ScaledMs(10000));
    ASSERT_EQ(made.status, 0) << made.err;
    for (const ImageRow& image : ImageRows()) {
        const std::string name = WideToUtf8(image.fileName);
        bool kept = false;
        for (const std::string& k : keep) kept |= k == name;
        if (!kept) std::filesystem::remove(FilesDir() + name);
    }
}

void UpdateRunTest::Connect(const std::vector<std::string>& simOptions) {
    std::vector<std::string> args = {"--out", OutDir()};
    args.insert(args.end(), simOptions.begin(), simOptions.end());
    sim_ = std::make_unique<DevSimProcess>(args);
    ASSERT_TRUE(sim_->Started());
    SetPortList({sim_->PtyPath()});
    ASSERT_EQ(engine_.StartEngine(SERIAL_PORT_LIMIT, SERIAL_TRANSFER_BAUD, Utf8ToWide(FilesDir())), 1);
    ASSERT_TRUE(window_.WaitForCount(WM_ENGINE_READY, 1, 10000)) << "no device information";
    ASSERT_TRUE(window_.WaitForCount(WM_ENGINE_SETTINGS, 2, 12000)) << "settings not read";
    ASSERT_TRUE(WaitUntil([&] { return engine_.GetConnectState() == ConnectState::Connected; }, 5000));
    window_.Clear();
}

bool UpdateRunTest::RunUpdate(int timeoutMs) {
    window_.Clear();
    engine_.StartUpdateRun();
    return window_.WaitForRunEnd(timeoutMs);
}

std::vector<LoggedFrame> UpdateRunTest::StopDevice() {
    // The run ends as soon as the last end command is written, perhaps before the device read it. A
    // stopped simulator handles every frame that reached the line before it writes its files. The
    // simulator goes first: closing the port purges the line, the device's unread input included.
    EXPECT_EQ(sim_->Stop(), 0);
    engine_.StopEngine();
    return ReadFrameLog(OutDir());
}

bool UpdateRunTest::WaitForLogged(uint8_t cmd, int timeoutMs) const {
    return WaitUntil(
        [&] {
            for (const LoggedFrame& f : ReadFrameLog(OutDir()))
                if (f.fromTool && f.Cmd() == cmd) return true;
            return false;
        },
        timeoutMs);
}

std::vector<EngineMessage> UpdateRunTest::MessagesOf(uint32_t message) const {
    std::vector<EngineMessage> out;
    for (const EngineMessage& m : window_.Messages())
        if (m.message == message) out.push_back(m);
    return out;
}
