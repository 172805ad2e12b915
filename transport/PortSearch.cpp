#include "transport/PortSearch.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>

#include "base/Text.h"
#include "base/Trace.h"
#include "transport/SerialHandshake.h"
#include "transport/SerialProbe.h"

namespace {

using Clock = std::chrono::steady_clock;

// How often the search looks at the caller's stop flag while it waits for its ports.
constexpr auto kStopLook = std::chrono::milliseconds(50);

enum class Phase { Opening, Probing, Done };

struct ProbeRecord {
    Phase phase = Phase::Opening;
    CSerial::OpenError error = CSerial::OpenError::Other;
    std::unique_ptr<CSerialBackend> answered;  // the back end of a port that answered, still open
};

// Shared by the search and its probe threads; a thread given up on keeps it alive until it ends.
struct SearchState {
    std::mutex mutex;
    std::condition_variable changed;
    std::atomic<bool> over{false};  // the search is decided: probes stop, answers are not kept
    std::vector<ProbeRecord> records;
};

void Finish(SearchState& state, size_t index, CSerial::OpenError error, std::unique_ptr<CSerialBackend> backend) {
    {
        std::lock_guard<std::mutex> lock(state.mutex);
        ProbeRecord& record = state.records[index];
        record.phase = Phase::Done;
        record.error = error;
        if (error == CSerial::OpenError::None && !state.over.load()) {
            record.answered = std::move(backend);
        }
    }
    // A port not kept is closed here, on its own thread, with nothing more written to it.
    if (backend) backend->CloseDevice();
    state.changed.notify_all();
}

void ProbePort(const std::shared_ptr<SearchState>& state, size_t index, std::unique_ptr<CSerialBackend> backend,
               const std::string& path, const SerialLineSettings& line, const std::vector<uint8_t>& request,
               const CSerialProbe* probe) {
    const CSerial::OpenError opened = OpenForHandshake(*backend, path, line);
    {
        std::lock_guard<std::mutex> lock(state->mutex);
        // Given up while the open was under way: the search has gone and the probe may be gone too.
        if (state->over.load()) {
            state->records[index].phase = Phase::Done;
            if (opened == CSerial::OpenError::None) backend->CloseDevice();
            return;
        }
        if (opened == CSerial::OpenError::None) state->records[index].phase = Phase::Probing;
    }
    if (opened != CSerial::OpenError::None) return Finish(*state, index, opened, nullptr);
    const bool answered = ProbeForAnswer(*backend, *probe, request, &state->over);
    if (!answered && !state->over.load())
        Trace(L"[CSerial] %ls: no device answered the handshake\r\n", Utf8ToWide(path).c_str());
    Finish(*state, index, answered ? CSerial::OpenError::None : CSerial::OpenError::NoAnswer, std::move(backend));
}

// One round over `group` (indices into `candidates`); appends to `result`. True when a port was kept.
bool SearchGroup(const std::vector<PortCandidate>& group, const SerialLineSettings& line, const CSerialProbe& probe,
                 const std::function<uint8_t(const PortCandidate&)>& portByte, const SerialBackendFactory& makeBackend,
                 const std::atomic<bool>& stop, PortSearchResult& result) {
    if (group.empty()) return false;
    auto state = std::make_shared<SearchState>();
    state->records.resize(group.size());
    std::vector<std::thread> threads(group.size());
    const Clock::time_point giveUpAt = Clock::now() + std::chrono::milliseconds(kSerialHandshakeWaitMs);
    for (size_t i = 0; i < group.size(); ++i) {
        std::unique_ptr<CSerialBackend> backend = makeBackend();
        std::vector<uint8_t> request = probe.Request(portByte(group[i]));
        try {
            threads[i] = std::thread([state, i, backend = std::move(backend), path = group[i].path, line,
                                      request = std::move(request), probePtr = &probe]() mutable {
                ProbePort(state, i, std::move(backend), path, line, request, probePtr);
            });
        } catch (const std::system_error& error) {
            Trace(L"[CSerial] %ls: no thread for its probe: %hs\r\n", Utf8ToWide(group[i].path).c_str(), error.what());
            std::lock_guard<std::mutex> lock(state->mutex);
            state->records[i].phase = Phase::Done;
            state->records[i].error = CSerial::OpenError::Other;
        }
    }

    size_t kept = group.size();
    size_t decided = 0;  // records before this one are settled: done, or given up
    {
        std::unique_lock<std::mutex> lock(state->mutex);
        for (;;) {
            const bool late = Clock::now() >= giveUpAt;
            while (decided < group.size() && kept == group.size()) {
                const ProbeRecord& record = state->records[decided];
                if (record.phase == Phase::Done && record.error == CSerial::OpenError::None) {
                    kept = decided;
                } else if (record.phase == Phase::Done || (record.phase == Phase::Opening && late)) {
                    ++decided;
                } else {
                    break;
                }
            }
            if (kept != group.size() || decided == group.size() || stop.load()) break;
            // Woken by every probe that ends; the give-up time and the stop flag are looked at each slice.
            state->changed.wait_for(lock, kStopLook);
        }
        state->over.store(true);
        if (stop.load()) kept = group.size();
        const size_t reported = kept != group.size() ? kept + 1 : decided;
        for (size_t i = 0; i < reported; ++i) {
            ProbeRecord& record = state->records[i];
            CSerial::OpenError error = record.error;
            if (record.phase == Phase::Opening) {
                error = CSerial::OpenError::NoAnswer;
                Trace(L"[CSerial] %ls: the open has not returned within %u ms; given up\r\n",
                      Utf8ToWide(group[i].path).c_str(), kSerialHandshakeWaitMs);
            }
            result.tried.push_back({group[i].path, error});
        }
        if (kept != group.size()) {
            result.kept = group[kept];
            result.backend = std::move(state->records[kept].answered);
        }
        // A thread still in its open is left to end by itself; every other one ends within a slice.
        for (size_t i = 0; i < group.size(); ++i)
            if (state->records[i].phase == Phase::Opening && threads[i].joinable()) threads[i].detach();
    }
    for (std::thread& thread : threads)
        if (thread.joinable()) thread.join();
    // Answers that came in after the decision, from ports not kept: closed, nothing more written.
    for (size_t i = 0; i < group.size(); ++i)
        if (i != kept && state->records[i].answered) state->records[i].answered->CloseDevice();
    return result.backend != nullptr;
}

}  // namespace

PortSearchResult SearchPorts(const std::vector<PortCandidate>& candidates, const SerialLineSettings& handshakeLine,
                             const CSerialProbe& probe, const std::function<uint8_t(const PortCandidate&)>& portByte,
                             const SerialBackendFactory& makeBackend, const std::atomic<bool>& stop) {
    PortSearchResult result;
    std::vector<PortCandidate> first;
    std::vector<PortCandidate> last;
    for (const PortCandidate& candidate : candidates) (candidate.last ? last : first).push_back(candidate);
    if (SearchGroup(first, handshakeLine, probe, portByte, makeBackend, stop, result)) return result;
    if (!stop.load()) SearchGroup(last, handshakeLine, probe, portByte, makeBackend, stop, result);
    return result;
}
