// What an image puts on the wire in an update run: frames and bytes from the tool to the device
// (start command, packets, end command). Front ends use it to show transfer sizes and times.
#pragma once

#include <cstdint>

class CFile_Project;
class CFile_EDogMusicPic;
class CFile_Radar;

struct ImagePlan {
    int packets = 0;          // packets the step sends (firmware: data records)
    int frames = 0;           // every frame of the step, start and end included
    long long wireBytes = 0;  // bytes of those frames
    bool sendable = true;     // false for a firmware image that cannot be placed (no leading address)
    uint32_t lowAddress = 0;  // firmware only: the lowest and one past the highest address sent
    uint32_t highAddress = 0;
};

ImagePlan PlanProject(const CFile_Project& image);
ImagePlan PlanData(const CFile_EDogMusicPic& image);
ImagePlan PlanRadar(const CFile_Radar& image);

// Seconds a byte count takes on an 8N1 line (10 bit times per byte).
double LineSeconds(long long bytes, uint32_t baud);
