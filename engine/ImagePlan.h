// What an image puts on the wire in an update run: frames and bytes from the tool to the device
// (start command, packets, end command). Front ends use it to show transfer sizes and times.
#pragma once

#include <cstdint>

class CImageReader;
struct ImageRow;

struct ImagePlan {
    int packets = 0;          // packets the step sends (firmware: data records)
    int frames = 0;           // every frame of the step, start and end included
    long long wireBytes = 0;  // bytes of those frames
    // What the device answers in the step, by the protocol's fixed answer sizes: the start's
    // answers, one status answer per packet, the end's confirmation where the device gives one.
    long long answerBytes = 0;
    bool sendable = true;     // false for a firmware image that cannot be placed (no leading address)
    uint32_t lowAddress = 0;  // firmware only: the lowest and one past the highest address sent
    uint32_t highAddress = 0;
};

// The image `image` read for table row `row`: its start command, its packets (firmware: the data
// records that go out), its end command.
ImagePlan PlanImage(const ImageRow& row, const CImageReader& image);

// Seconds a byte count takes on an 8N1 line (10 bit times per byte).
double LineSeconds(long long bytes, uint32_t baud);
