// The five update files the engine looks for beside the program, in the order of a run, and the check
// of each with the engine's own readers that iap-cli makes before it touches a port (and --inspect
// shows).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/ImagePlan.h"
#include "files/ImageLoad.h"

struct UpdateFile {
    const char* name;      // file name in the folder
    const wchar_t* title;  // what it is, for the user
    int step;              // the run's step number
};

const std::vector<UpdateFile>& UpdateFileList();

// One file as the engine's reader sees it.
struct UpdateFileCheck {
    const UpdateFile* file = nullptr;
    std::string path;           // folder + name
    ImageLoadStatus status;     // Absent, Ready, Empty or Refused with the reader's reason
    long long bytes = -1;       // size of a regular file; -1 for anything else
    ImagePlan plan;             // what a run would put on the wire
    int records = 0;            // firmware only: records read
    uint16_t version = 0;       // firmware only: the trailer's version
};

// Loads `file` from `folder` (ending in '/') with the reader the engine uses for it, and forgets the
// image again. Never blocks on a FIFO or a device, never reads more than the readers' size limit.
UpdateFileCheck CheckUpdateFile(const std::string& folder, const UpdateFile& file);
// The five files in run order.
std::vector<UpdateFileCheck> CheckUpdateFiles(const std::string& folder);
