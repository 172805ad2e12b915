// What a run did with each image it started, and the end of an image the device never confirms: a
// run reports success only when every image went whole and was closed by its end command.
#include <chrono>
#include <thread>

#include "engine/DealMsg.h"
#include "engine/ImagePlan.h"
#include "engine/ImageTable.h"
#include "base/Trace.h"
#include "engine/Work_BK.h"
#include "transport/TickCount.h"

namespace {

bool IsRecordStep(int step) { return step > StepNone && step < kStepLimit; }

// How long a noisy line may keep the settle from ending, in settle lengths: bytes that never stop are
// no surplus answer, and the run must go on.
constexpr uint32_t kSettleLimitFactor = 10;
constexpr uint32_t kSettlePollMs = 10;

}  // namespace

void CWork_BK::CountAcceptedPacket(int step) {
    if (IsRecordStep(step)) acceptedPackets_[static_cast<size_t>(step)].fetch_add(1);
}

int CWork_BK::AcceptedPackets(int step) const {
    return IsRecordStep(step) ? acceptedPackets_[static_cast<size_t>(step)].load() : 0;
}

int CWork_BK::PacketsToSend(int step) const {
    return IsRecordStep(step) ? packetsToSend_[static_cast<size_t>(step)].load() : 0;
}

void CWork_BK::CountPacketsToSend() {
    for (const ImageRow& row : ImageRows()) {
        const CImageReader* image = Image(row.step);
        // The firmware's extended-address records and its last two records never go out.
        const int packets = image == nullptr                       ? 0
                            : row.reader == ImageReaderKind::Hex ? PlanImage(row, *image).packets
                                                                  : image->GetPacketCount();
        packetsToSend_[static_cast<size_t>(row.step)].store(packets);
    }
}

void CWork_BK::MarkImageClosed(int step) {
    if (IsRecordStep(step)) closedImages_.fetch_or(1u << step);
}

bool CWork_BK::ImageClosed(int step) const {
    return IsRecordStep(step) && (closedImages_.load() & (1u << step)) != 0;
}

int CWork_BK::CheckImagesWhole() {
    for (const ImageRow& row : ImageRows()) {
        const int expected = PacketsToSend(row.step);
        if (expected == 0 && !JobPosted(row.step)) continue;
        std::wstring problem;
        if (!JobPosted(row.step)) {
            problem = L"не передан";
        } else if (AcceptedPackets(row.step) != expected) {
            problem = L"передан не целиком: устройство приняло " + std::to_wstring(AcceptedPackets(row.step)) + L" из " +
                      std::to_wstring(expected) + L" пакетов";
        } else if (!ImageClosed(row.step)) {
            problem = L"передан без команды завершения";
        }
        if (problem.empty()) continue;
        Trace(L"[CWork_BK] image of step %d: %ls; run ended\r\n", row.step, problem.c_str());
        FailRun(row.step, std::wstring(row.fileName) + L" (" + row.title + L") " + problem);
        return 0;
    }
    return 1;
}

void CWork_BK::ImageEndWritten(uint8_t endCmd) {
    const int step = StepOfCommand(endCmd);
    if (RunFailed()) return;  // the step has ended already, with the failure
    if (!RunActive()) {
        NotifyStepEnd(0);
        return;
    }
    MarkImageClosed(step);
    settlingStep_.store(step);
    PostJob(kEndSettleJob);
}

bool CWork_BK::WaitLineQuiet(uint32_t quietMs) {
    const uint32_t start = GetTickCountMs();
    for (;;) {
        if (RunFailed() || !RunActive()) return false;
        const uint32_t now = GetTickCountMs();
        const uint32_t quietFor = now - lastReceiveMs_.load();
        if (quietFor >= quietMs) return true;
        if (now - start >= kSettleLimitFactor * quietMs) {
            Trace(L"[CWork_BK] the line did not go quiet within %u ms; the run goes on\r\n", now - start);
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(std::min(kSettlePollMs, quietMs - quietFor)));
    }
}

void CWork_BK::RunEndSettle(int step) {
    // A surplus answer to the image's packets, which the device sends at once, arrives meanwhile
    // and fails the step (the protocol driver); only a quiet line ends it well.
    if (!WaitLineQuiet(Options().endSettleMs)) return;
    NotifyStepEnd(0);
    CDealMsg* driver = CDealMsg::Instance();
    if (driver != nullptr && RunActive() && !RunFailed()) driver->StartNextImage(step);
}
