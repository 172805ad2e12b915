// The update files the engine looks for in the tool folder (the rows of the image table, in the order
// of a run), and the check of each with the engine's own readers: iap-cli makes it before it touches a
// port (and --inspect shows it), the window before a run and whenever the folder changes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/ImagePlan.h"
#include "engine/ImageTable.h"
#include "files/ImageLoad.h"

// One file as the engine's reader sees it.
struct UpdateFileCheck {
    const ImageRow* image = nullptr;  // its row: file name, title, step, reader
    std::string name;                 // file name in the folder
    std::string path;                 // folder + name
    ImageLoadStatus status;           // Absent, Ready, Empty or Refused with the reader's reason
    long long bytes = -1;             // size of a regular file; -1 for anything else
    ImagePlan plan;                   // what a run would put on the wire
    int records = 0;                  // HEX images only: records read
    uint16_t version = 0;             // HEX images only: the trailer's version
};

// Loads the file of `image` from `folder` (ending in '/') with the reader the engine uses for it, and
// forgets the image again. Never blocks on a FIFO or a device, never reads more than the readers'
// size limit.
UpdateFileCheck CheckUpdateFile(const std::string& folder, const ImageRow& image);
// Every file in run order.
std::vector<UpdateFileCheck> CheckUpdateFiles(const std::string& folder);
// The file names in run order, separated by ", ".
std::wstring UpdateFileNames();
