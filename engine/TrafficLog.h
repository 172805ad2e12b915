// Plain-text traffic logs "send.txt", "recv.txt" and "recv_packet.txt" in the current folder, written
// only when the build enables IAP_TRAFFIC_LOG; otherwise these calls do nothing and create no file.
// Each entry opens the file, appends and closes it; a file that cannot be opened skips the entry.
#pragma once

#include <cstdint>

void TrafficLogSent(const uint8_t* bytes, int length);
void TrafficLogReceivedChunk(const uint8_t* bytes, int length);
void TrafficLogReceivedFrame(const uint8_t* bytes, int length);
