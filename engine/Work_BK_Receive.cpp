// The engine's receive path: every chunk the serial reader delivers is collected, traced, and cut
// into answer frames that go to the protocol driver in arrival order. Runs on the reader thread only.
#include <cwchar>
#include <string>

#include "engine/DealMsg.h"
#include "protocol/ReceivePath.h"
#include "base/Trace.h"
#include "engine/TrafficLog.h"
#include "engine/Work_BK.h"
#include "transport/TickCount.h"

int CWork_BK::OnReceive(const uint8_t* data, uint32_t length) {
    if (data == nullptr || length == 0) return 1;
    lineBytesReceived_.fetch_add(length, std::memory_order_relaxed);
    lastReceiveMs_.store(GetTickCountMs());
    if (TraceEnabled()) {
        // One trace call per few hundred bytes instead of one per byte; the text is the same.
        std::wstring line = L"Data is :";
        wchar_t piece[8];
        for (uint32_t i = 0; i < length; ++i) {
            std::swprintf(piece, 8, L" %02x", data[i]);
            line += piece;
            if (line.size() > TRACE_BUFFER_CHARS - 16) {
                Trace(L"%ls", line.c_str());
                line.clear();
            }
        }
        line += L"\r\n";
        Trace(L"%ls", line.c_str());
    }
    TrafficLogReceivedChunk(data, static_cast<int>(length));

    ReceiveChunk(receiveBuffer_, data, static_cast<int>(length), [this](const CRawString& frame) {
        turnaround_.AnswerArrived();
        AnswerTimeVerdict verdict;
        const bool judged = answerTime_.AnswerArrived(static_cast<uint32_t>(frame.Size()), baudRate_.load(), verdict);
        TrafficLogReceivedFrame(frame.Data(), frame.Size());
        if (CDealMsg* driver = CDealMsg::Instance()) driver->Deal(frame);
        // After the answer was dealt with, so that the next packet is not held up by the window.
        if (judged) NotifyAnswerTimes(verdict);
    });
    return 1;
}
