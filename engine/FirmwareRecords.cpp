#include "engine/FirmwareRecords.h"

int ExtendedLinearAddress(const CPacket_Hex& record, int fallback) {
    if (record.GetDataLength() < 2 || record.GetData() == nullptr) return fallback;
    return record.GetData()[0] * 256 + record.GetData()[1];
}

bool WalkFirmwareRecords(const CFile_Project& image,
                         const std::function<void(const CPacket_Hex& record, int upper)>& onData,
                         const std::function<void(int index, int upper, int previous)>& onUpper) {
    const CPacket_Hex* first = image.PacketAt(0);
    if (first == nullptr || first->GetType() != HEX_TYPE_EXTENDED_LINEAR || first->GetDataLength() < 2)
        return false;
    int upper = ExtendedLinearAddress(*first, 0);
    if (onUpper) onUpper(0, upper, upper);
    for (int i = 1; i < image.GetPacketCount(); ++i) {
        const CPacket_Hex& record = *image.PacketAt(i);
        const uint8_t type = record.GetType();
        if (type == HEX_TYPE_END_OF_FILE) break;
        if (type == HEX_TYPE_EXTENDED_LINEAR) {
            const int previous = upper;
            upper = ExtendedLinearAddress(record, upper + 1);
            if (onUpper) onUpper(i, upper, previous);
        } else if (type == HEX_TYPE_DATA) {
            onData(record, upper);
        }
    }
    return true;
}
