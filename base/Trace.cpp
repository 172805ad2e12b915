#include "base/Trace.h"

#include "base/ConsoleText.h"

#include <atomic>
#include <cstdarg>
#include <cwchar>
#include <mutex>

namespace {

std::mutex& TraceMutex() {
    static std::mutex mutex;
    return mutex;
}

std::FILE* g_traceFile = stdout;
TraceSink g_traceSink;
// Mirrors "a sink or a file is set", so a silenced trace costs no formatting on the hot paths.
std::atomic<bool> g_traceOn{true};

}  // namespace

void SetTraceFile(std::FILE* file) {
    std::lock_guard<std::mutex> lock(TraceMutex());
    g_traceFile = file;
    g_traceOn.store(g_traceFile != nullptr || static_cast<bool>(g_traceSink));
}

void SetTraceSink(TraceSink sink) {
    std::lock_guard<std::mutex> lock(TraceMutex());
    g_traceSink = std::move(sink);
    g_traceOn.store(g_traceFile != nullptr || static_cast<bool>(g_traceSink));
}

bool TraceEnabled() { return g_traceOn.load(std::memory_order_relaxed); }

void Trace(const wchar_t* format, ...) {
    if (format == nullptr || !TraceEnabled()) return;
    wchar_t buffer[TRACE_BUFFER_CHARS] = {};
    va_list args;
    va_start(args, format);
    // A line longer than the buffer is cut; vswprintf then reports -1 but has written a prefix.
    std::vswprintf(buffer, TRACE_BUFFER_CHARS, format, args);
    va_end(args);
    buffer[TRACE_BUFFER_CHARS - 1] = L'\0';

    std::lock_guard<std::mutex> lock(TraceMutex());
    if (g_traceSink) {
        g_traceSink(buffer);
        return;
    }
    if (g_traceFile == nullptr) return;
    WriteConsoleText(g_traceFile, buffer);
}
