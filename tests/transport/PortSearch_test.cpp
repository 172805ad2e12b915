// The device search over simulated ports: silent ones, one whose open blocks, one that answers late,
// two that answer, Bluetooth ports, a search called off. Every port is probed at once; the one kept is
// the one a one-by-one scan would have kept, and the others get nothing after their probe.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "SerialTestParts.h"
#include "support/TestSupport.h"
#include "transport/PortList.h"
#include "transport/Serial.h"
#include "transport/SerialBackend.h"

namespace {

using namespace serialtest;
using OpenError = CSerial::OpenError;
using testsupport::WaitUntil;

enum class Behaviour { Silent, Answers, AnswersAfterRelease, BlocksOnOpen };

// The ports of a simulated machine, by path: how each behaves, and what each was given.
struct Machine {
    std::mutex mutex;
    std::condition_variable released;
    bool release = false;  // lets a late answer go and a blocked open return
    std::map<std::string, Behaviour> ports;
    std::map<std::string, int> opens, writes, closes, probing;

    void Release() {
        {
            std::lock_guard<std::mutex> lock(mutex);
            release = true;
        }
        released.notify_all();
    }
    int Count(std::map<std::string, int>& of, const std::string& path) {
        std::lock_guard<std::mutex> lock(mutex);
        return of[path];
    }
};

class SimulatedPort : public CSerialBackend {
public:
    explicit SimulatedPort(std::shared_ptr<Machine> machine) : machine_(std::move(machine)) {}
    SerialOpenStatus OpenDevice(const std::string& path) override {
        std::unique_lock<std::mutex> lock(machine_->mutex);
        if (!machine_->ports.count(path)) return SerialOpenStatus::Missing;
        behaviour_ = machine_->ports[path];
        path_ = path;
        ++machine_->opens[path];
        if (behaviour_ == Behaviour::BlocksOnOpen) machine_->released.wait(lock, [&] { return machine_->release; });
        open_ = true;
        return SerialOpenStatus::Ok;
    }
    int Purge() override { return 1; }
    int PurgeInput() override { return 1; }
    int DrainOutput(uint32_t) override { return 1; }
    int SetHandshakeTimeouts() override { return 1; }
    int SetTransferTimeouts() override {
        transfer_ = true;
        return 1;
    }
    int SetLine(const SerialLineSettings&) override { return 1; }
    int Read(uint8_t*, int) override { return 0; }
    int ReadAvailable(uint8_t* buffer, int capacity, uint32_t waitMs) override {
        std::unique_lock<std::mutex> lock(machine_->mutex);
        const bool answers = behaviour_ == Behaviour::Answers ||
                             (behaviour_ == Behaviour::AnswersAfterRelease && machine_->release);
        if (transfer_ || !asked_ || !answers) {
            machine_->released.wait_for(lock, std::chrono::milliseconds(waitMs));
            return 0;
        }
        asked_ = false;
        const Bytes answer = DeviceInfoAnswer(1);
        std::copy(answer.begin(), answer.end(), buffer);
        return std::min<int>(capacity, static_cast<int>(answer.size()));
    }
    SerialWriteResult Write(const uint8_t*, uint32_t length) override {
        std::lock_guard<std::mutex> lock(machine_->mutex);
        ++machine_->writes[path_];
        asked_ = true;
        return {SerialWriteResult::Status::Done, length, 0};
    }
    void CloseDevice() override {
        std::lock_guard<std::mutex> lock(machine_->mutex);
        if (open_) ++machine_->closes[path_];
        open_ = false;
    }
    bool IsOpen() const override { return open_; }
    std::string LastErrorText() const override { return ""; }

private:
    std::shared_ptr<Machine> machine_;
    Behaviour behaviour_ = Behaviour::Silent;
    std::string path_;
    std::atomic<bool> open_{false};
    bool asked_ = false;
    bool transfer_ = false;
};

struct Searched {
    int opened = 0;
    std::string kept;
    std::vector<std::pair<std::string, OpenError>> tried;
    std::vector<std::string> hook;
};

// Runs one search over `candidates` on a CSerial whose back ends are the machine's ports; the kept
// port is closed when the CSerial goes.
Searched Search(const std::shared_ptr<Machine>& machine, const std::vector<PortCandidate>& candidates,
                const std::atomic<bool>& stop) {
    Searched result;
    RecordingHook hook([&](const std::string& event) { result.hook.push_back(event); });
    CSerial serial(std::make_unique<SimulatedPort>(machine), nullptr, 5);
    serial.SetProbe(&kDeviceProbe);
    serial.SetOpenHook(&hook);
    serial.SetBackendFactory([machine] { return std::make_unique<SimulatedPort>(machine); });
    result.opened = serial.OpenFirstAnswering(candidates, 9600, 8, 0, 0, stop, result.tried);
    if (result.opened) {
        EXPECT_TRUE(serial.IsOpen());
        result.kept = serial.LastPortName();
    }
    return result;
}

std::vector<PortCandidate> Ports(std::initializer_list<std::pair<const char*, bool>> list) {
    std::vector<PortCandidate> candidates;
    unsigned number = 0;
    for (const auto& [path, last] : list) candidates.push_back({++number, path, last});
    return candidates;
}

TEST(PortSearchTest, TheFirstPortInOrderThatAnswersIsKeptAndTheOthersGetNothingMore) {
    struct Case {
        const char* name;
        std::map<std::string, Behaviour> ports;
        std::vector<PortCandidate> candidates;
        std::string kept;                              // "" when none
        std::vector<std::pair<std::string, OpenError>> tried;
    };
    const auto silent = Behaviour::Silent;
    const auto answers = Behaviour::Answers;
    std::vector<Case> cases = {
        {"eight silent ports before the device",
         {{"p1", silent}, {"p2", silent}, {"p3", silent}, {"p4", silent}, {"p5", silent}, {"p6", silent},
          {"p7", silent}, {"p8", silent}, {"dev", answers}},
         Ports({{"p1", false}, {"p2", false}, {"p3", false}, {"p4", false}, {"p5", false}, {"p6", false},
                {"p7", false}, {"p8", false}, {"dev", false}}),
         "dev",
         {{"p1", OpenError::NoAnswer}, {"p2", OpenError::NoAnswer}, {"p3", OpenError::NoAnswer},
          {"p4", OpenError::NoAnswer}, {"p5", OpenError::NoAnswer}, {"p6", OpenError::NoAnswer},
          {"p7", OpenError::NoAnswer}, {"p8", OpenError::NoAnswer}, {"dev", OpenError::None}}},
        {"two devices answer: the first in order is kept, a missing port before them reported",
         {{"a", answers}, {"b", answers}},
         Ports({{"gone", false}, {"a", false}, {"b", false}}),
         "a",
         {{"gone", OpenError::Missing}, {"a", OpenError::None}}},
        {"a Bluetooth port that answers is tried only after the others",
         {{"bt", answers}, {"s", silent}, {"dev", answers}},
         Ports({{"bt", true}, {"s", false}, {"dev", false}}),
         "dev",
         {{"s", OpenError::NoAnswer}, {"dev", OpenError::None}}},
        {"the Bluetooth port when nothing else answers",
         {{"bt", answers}, {"s", silent}},
         Ports({{"bt", true}, {"s", false}}),
         "bt",
         {{"s", OpenError::NoAnswer}, {"bt", OpenError::None}}},
        {"nothing answers", {{"s", silent}}, Ports({{"s", false}, {"gone", false}}), "",
         {{"s", OpenError::NoAnswer}, {"gone", OpenError::Missing}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto machine = std::make_shared<Machine>();
        machine->ports = c.ports;
        const std::atomic<bool> stop{false};
        const Searched searched = Search(machine, c.candidates, stop);
        EXPECT_EQ(searched.opened != 0, !c.kept.empty());
        EXPECT_EQ(searched.kept, c.kept);
        EXPECT_EQ(searched.tried, c.tried);
        for (const auto& [path, behaviour] : c.ports) {
            const int opens = machine->Count(machine->opens, path);
            // Each port got at most its one probe and nothing after it (one opened after the search
            // was decided gets none), and is closed again (the kept one by the port's destructor).
            // A port reported silent had its probe and its whole wait.
            const bool reportedSilent = std::count(c.tried.begin(), c.tried.end(), std::make_pair(path, OpenError::NoAnswer)) == 1;
            EXPECT_LE(opens, 1) << path;
            if (reportedSilent) {
                EXPECT_EQ(machine->Count(machine->writes, path), 1) << path;
            }
            EXPECT_LE(machine->Count(machine->writes, path), opens) << path;
            EXPECT_EQ(machine->Count(machine->closes, path), opens) << path;
        }
        // The device is told the kept port's number.
        for (const PortCandidate& candidate : c.candidates) {
            if (candidate.path == c.kept) {
                EXPECT_EQ(searched.hook, (std::vector<std::string>{"restart", "info:" + std::to_string(candidate.port)}));
            }
        }
        // A Bluetooth port is never opened while another port answers.
        if (c.kept == "dev" && c.ports.count("bt")) {
            EXPECT_EQ(machine->Count(machine->opens, "bt"), 0);
        }
    }
}

TEST(PortSearchTest, APortThatAnswersLateBeforeOneThatAnsweredAtOnceIsStillKept) {
    auto machine = std::make_shared<Machine>();
    machine->ports = {{"late", Behaviour::AnswersAfterRelease}, {"quick", Behaviour::Answers}};
    // The late port answers only once the quick one has been probed and answered.
    std::thread releaser([&] {
        WaitUntil([&] { return machine->Count(machine->writes, "quick") == 1; }, 5000);
        machine->Release();
    });
    const std::atomic<bool> stop{false};
    const Searched searched = Search(machine, Ports({{"late", false}, {"quick", false}}), stop);
    releaser.join();
    EXPECT_EQ(searched.kept, "late");
    EXPECT_EQ(searched.tried, (std::vector<std::pair<std::string, OpenError>>{{"late", OpenError::None}}));
    EXPECT_EQ(machine->Count(machine->writes, "quick"), 1);
    EXPECT_EQ(machine->Count(machine->closes, "quick"), 1);
}

TEST(PortSearchTest, APortWhoseOpenBlocksIsGivenUpAndClosedWhenTheOpenReturns) {
    auto machine = std::make_shared<Machine>();
    machine->ports = {{"stuck", Behaviour::BlocksOnOpen}, {"dev", Behaviour::Answers}};
    const std::atomic<bool> stop{false};
    const Searched searched = Search(machine, Ports({{"stuck", false}, {"dev", false}}), stop);
    // Decided while the open still hangs: the device is kept, the stuck port reported silent.
    EXPECT_EQ(searched.kept, "dev");
    EXPECT_EQ(searched.tried, (std::vector<std::pair<std::string, OpenError>>{{"stuck", OpenError::NoAnswer},
                                                                              {"dev", OpenError::None}}));
    EXPECT_EQ(machine->Count(machine->opens, "stuck"), 1);
    machine->Release();
    // Its thread closes it when the open returns, without a probe.
    EXPECT_TRUE(WaitUntil([&] { return machine->Count(machine->closes, "stuck") == 1; }, 5000));
    EXPECT_EQ(machine->Count(machine->writes, "stuck"), 0);
}

TEST(PortSearchTest, ASearchCalledOffKeepsNoPort) {
    auto machine = std::make_shared<Machine>();
    machine->ports = {{"late", Behaviour::AnswersAfterRelease}, {"dev", Behaviour::Answers}};
    std::atomic<bool> stop{false};
    std::thread stopper([&] {
        WaitUntil([&] { return machine->Count(machine->writes, "late") == 1; }, 5000);
        stop.store(true);
    });
    const Searched searched = Search(machine, Ports({{"late", false}, {"dev", false}}), stop);
    stopper.join();
    EXPECT_EQ(searched.opened, 0);
    EXPECT_TRUE(searched.hook.empty());
    EXPECT_EQ(machine->Count(machine->closes, "late"), 1);
    EXPECT_EQ(machine->Count(machine->closes, "dev"), machine->Count(machine->opens, "dev"));
}

}  // namespace
