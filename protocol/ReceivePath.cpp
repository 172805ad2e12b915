#include "protocol/ReceivePath.h"

#include "protocol/IspCodes.h"
#include "protocol/Packet_ISP.h"

bool FindAnswerFrame(const CRawString& buffer, int& start, int& end) {
    start = -1;
    end = -1;
    const int size = buffer.Size();
    const uint8_t head = ISP_HEAD;
    int p = 0;
    while (p < size) {
        const int h = buffer.Find(&head, 1, p);
        if (h < 0) return false;
        p = h + 1;
        const int length = buffer.GetAt(h + FRAME_OFFSET_LENGTH);
        if (length < ISP_FRAME_OVERHEAD || h + length > size) continue;
        const uint8_t cmd = buffer.GetAt(h + FRAME_OFFSET_CMD);
        if (cmd < ANSWER_CODE_MIN || cmd > ANSWER_CODE_MAX) continue;
        const int covered = length - ISP_HEADER_SIZE;  // command and payload
        if (CheckSum(buffer.Data() + h + FRAME_OFFSET_CMD, covered) != buffer.GetAt(h + length - 1)) continue;
        start = h;
        end = h + length;
        return true;
    }
    return false;
}

int ExtractFrame(CRawString& buffer, FrameFinder finder, CRawString& frame, bool discardLeading) {
    if (finder == nullptr) return 0;
    int start = -1;
    int end = -1;
    if (!finder(buffer, start, end)) return 0;
    frame.Assign(buffer.Data() + start, end - start, 0);
    if (discardLeading)
        buffer.Erase(0, end);
    else
        buffer.Erase(start, end - start);
    return 1;
}

void TrimReceiveBuffer(CRawString& buffer) {
    if (buffer.Size() <= RECEIVE_BUFFER_LIMIT) return;
    const uint8_t head = ISP_HEAD;
    const int keepFrom = buffer.Find(&head, 1, buffer.Size() - (MAX_ANSWER_FRAME - 1));
    if (keepFrom < 0)
        buffer.Clear();
    else
        buffer.Erase(0, keepFrom);
}

int ReceiveChunk(CRawString& buffer, const uint8_t* data, int length, const FrameSink& deliver) {
    if (data == nullptr || length <= 0) return 0;
    buffer.Append(data, length);
    int delivered = 0;
    CRawString frame;
    while (ExtractFrame(buffer, FindAnswerFrame, frame, true)) {
        ++delivered;
        if (deliver) deliver(frame);
    }
    TrimReceiveBuffer(buffer);
    return delivered;
}
