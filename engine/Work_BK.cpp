// The one engine of the process, its construction and the settings a front end may change.
#include "engine/Work_BK.h"

namespace {
// The reader sleeps this long after every read pass.
constexpr uint32_t kReaderPauseMs = 10;
}  // namespace

// The one engine of the process.
static CWork_BK g_engine;

CWork_BK::CWork_BK()
    : serial_(nullptr, 0, kReaderPauseMs) {
    images_.reserve(ImageRows().size());
    for (const ImageRow& row : ImageRows())
        images_.emplace_back(row.reader);  // with the usual HEX line shapes (HexLineShapes)
    serial_.SetOpenHook(this);
    serial_.SetProbe(&probe_);
    jobWorker_.SetJobFunction([this](int step) { RunJob(step); });
}

CWork_BK::~CWork_BK() {
    JoinConnectThread();
    StopEngine();
    jobWorker_.Stop();
}

void CWork_BK::SetOptions(const EngineOptions& options) {
    {
        std::lock_guard<std::mutex> lock(recordMutex_);
        options_ = options;
    }
    SetWaitSliceMs(options.waitSliceMs);
    SetNoAnswerSlices(options.noAnswerSlices);
}

EngineOptions CWork_BK::Options() const {
    std::lock_guard<std::mutex> lock(recordMutex_);
    return options_;
}
