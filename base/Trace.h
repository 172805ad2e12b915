// Diagnostic trace: every diagnostic line of the system goes through Trace().
//
// Trace formats wide text (vswprintf rules: %ls for a wide string, %hs or %s for a narrow one on
// POSIX) into a zero-filled 1024-character buffer and writes it to the trace sink. The default sink
// is standard output, written as ConsoleText.h says: UTF-16 to a Windows console, UTF-8 bytes anywhere
// else, never with the C runtime's wide output.
// Thread-safe: any thread may call Trace; lines from different threads never interleave.
#pragma once

#include <cstdio>
#include <functional>
#include <string>

constexpr int TRACE_BUFFER_CHARS = 1024;

void Trace(const wchar_t* format, ...);

// Where trace text goes. A null FILE* silences the trace; the default is stdout.
void SetTraceFile(std::FILE* file);

// False while neither a file nor a sink is set: callers may skip building trace text then.
bool TraceEnabled();

// Tests capture trace text with a sink; an empty function restores the file output.
using TraceSink = std::function<void(const std::wstring& text)>;
void SetTraceSink(TraceSink sink);
