// The engine's receive path, CWork_BK::OnReceive on the real engine (no port open), fed the input in
// chunks whose sizes the input's first bytes choose. The protocol driver must be handed exactly the
// answers an independent reading of the byte stream finds, in order, and the receive buffer must
// stay within its bound whatever arrives.
//
// Input: byte 0 gives the number c (1..8) of chunk-size bytes that follow; chunk sizes are 1 + 4 * b
// (1..1021, the reader delivers at most 1024), used in turn; the rest is the received stream.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cwchar>
#include <string>
#include <thread>
#include <vector>

#include "engine/DealMsg.h"
#include "protocol/IspCodes.h"
#include "protocol/Packet_ISP.h"
#include "protocol/ReceivePath.h"
#include "engine/Work_BK.h"
#include "fuzz/FuzzSupport.h"

namespace {

// Answers as the device sends them: AC, length L (5 or more; only its low byte is on the wire here),
// one byte, a command 1..0x51, the payload, and the 8-bit sum of command and payload. The first whole
// answer in the stream is taken with every byte before it; bytes that never become an answer wait.
class ReferenceReader {
public:
    std::vector<uint8_t> Feed(const uint8_t* data, size_t size) {
        pending_.insert(pending_.end(), data, data + size);
        std::vector<uint8_t> commands;
        for (size_t h = 0; h < pending_.size(); ++h) {
            if (pending_[h] != ISP_HEAD || h + 1 >= pending_.size()) continue;
            const size_t length = pending_[h + 1];
            if (length < 5 || h + length > pending_.size()) continue;
            const uint8_t command = pending_[h + 3];
            if (command < 1 || command > 0x51) continue;
            uint8_t sum = 0;
            for (size_t i = h + 3; i + 1 < h + length; ++i) sum = static_cast<uint8_t>(sum + pending_[i]);
            if (sum != pending_[h + length - 1]) continue;
            commands.push_back(command);
            pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(h + length));
            h = static_cast<size_t>(-1);  // search the rest from its start again
        }
        return commands;
    }

private:
    std::vector<uint8_t> pending_;
};

// The command codes the protocol driver traced ("cmd == %x") on this thread while `recording`.
thread_local bool t_recording = false;
std::vector<uint8_t> g_dealt;

void OnTrace(const std::wstring& text) {
    if (!t_recording) return;
    unsigned code = 0;
    if (std::swscanf(text.c_str(), L"cmd == %x", &code) == 1) g_dealt.push_back(static_cast<uint8_t>(code));
}

CWork_BK& Engine() {
    CWork_BK* engine = CWork_BK::Instance();
    FUZZ_CHECK(engine != nullptr);
    return *engine;
}

// Empties the engine's receive buffer: 255 bytes without a header complete (or rule out) every
// answer that may have begun in it, and a valid answer then takes everything before it along.
void ResetEngineBuffer() {
    std::vector<uint8_t> flush(MAX_ANSWER_FRAME, 0x00);
    CPacket_ISP ignored;
    ignored.Pack(ANS_IGNORED, nullptr, 0);
    flush.insert(flush.end(), ignored.GetFrameData(), ignored.GetFrameData() + ignored.GetFrameSize());
    Engine().OnReceive(flush.data(), static_cast<uint32_t>(flush.size()));
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    SetTraceSink(OnTrace);
    // No port is scanned (the scan stops below port 1) and no image is found; the job worker runs,
    // so the jobs that answers post are taken instead of piling up.
    CWork_BK& engine = Engine();
    engine.StartEngine(1, 256000, L"/nonexistent/iap-fuzz/");
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (engine.GetConnectState() == ConnectState::Scanning && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    FUZZ_CHECK(engine.GetConnectState() == ConnectState::NoDevice);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const size_t sizeBytes = 1 + data[0] % 8;
    if (size < 1 + sizeBytes) return 0;
    const uint8_t* sizes = data + 1;
    const uint8_t* stream = data + 1 + sizeBytes;
    const size_t streamSize = size - 1 - sizeBytes;

    CWork_BK& engine = Engine();
    ResetEngineBuffer();

    ReferenceReader reference;
    std::vector<uint8_t> expected;
    CRawString bounded;  // the same receive path on a buffer of our own, to watch its size
    size_t framesSeen = 0;
    g_dealt.clear();
    size_t at = 0;
    for (size_t chunk = 0; at < streamSize; ++chunk) {
        const size_t n = std::min<size_t>(1 + 4 * static_cast<size_t>(sizes[chunk % sizeBytes]), streamSize - at);
        t_recording = true;
        FUZZ_CHECK(engine.OnReceive(stream + at, static_cast<uint32_t>(n)) == 1);
        t_recording = false;
        const std::vector<uint8_t> found = reference.Feed(stream + at, n);
        expected.insert(expected.end(), found.begin(), found.end());
        framesSeen += static_cast<size_t>(ReceiveChunk(bounded, stream + at, static_cast<int>(n), nullptr));
        FUZZ_CHECK(bounded.Size() <= RECEIVE_BUFFER_LIMIT);
        at += n;
    }
    FUZZ_CHECK(g_dealt == expected);
    FUZZ_CHECK(framesSeen == expected.size());
    // Nothing sends the commands the answers queued; drop them so the queue does not grow.
    engine.ClearTasks();
    return 0;
}
