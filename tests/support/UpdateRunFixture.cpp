#include "support/UpdateRunFixture.h"

#include <chrono>
#include <filesystem>
#include <thread>

#include "engine/ImageTable.h"
#include "engine/Trace.h"
#include "transport/PortList.h"

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
    const ProcessResult made = RunProcess({BinPath("iap-devsim"), "--make-samples", FilesDir()}, 10000);
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
    ASSERT_EQ(engine_.StartEngine(50, 256000, Utf8ToWide(FilesDir())), 1);
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
    // The run ends as soon as the last end command is written; give the device time to read it.
    std::error_code error;
    uintmax_t size = 0;
    int stableMs = 0;
    for (int waited = 0; waited < 3000 && stableMs < 300; waited += 20) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        const uintmax_t now = std::filesystem::file_size(OutDir() + "/frames.log", error);
        stableMs = now == size ? stableMs + 20 : 0;
        size = now;
    }
    engine_.StopEngine();
    EXPECT_EQ(sim_->Stop(), 0);
    return ReadFrameLog(OutDir());
}

std::vector<EngineMessage> UpdateRunTest::MessagesOf(uint32_t message) const {
    std::vector<EngineMessage> out;
    for (const EngineMessage& m : window_.Messages())
        if (m.message == message) out.push_back(m);
    return out;
}
