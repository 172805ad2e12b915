// The update set of one folder as a front end shows it before a run: each file's state as the engine's
// readers see it, "ver.txt", and the versions to show beside the device's. Plain C++, any thread; it
// reads the files each time it is built and keeps nothing open.
#pragma once

#include <string>
#include <vector>

#include "engine/UpdateFiles.h"
#include "engine/VersionFile.h"

struct UpdateSet {
    std::string folder;                   // as given, ending in a separator
    std::vector<UpdateFileCheck> files;   // in run order
    bool versionFileFound = false;
    VersionLines versionFile;             // "ver.txt" as read

    // The first file that keeps a run from starting, or null. A refused file would reach the device
    // damaged or not at all; an empty firmware file is a copy that went wrong, never a step to skip in
    // silence, since the user means to update the firmware.
    const UpdateFileCheck* Blocking() const;
    // Some file would be sent.
    bool AnyToSend() const;
    // The check of the file of `step`, or null.
    const UpdateFileCheck* File(int step) const;
};

// True when `check` keeps a run from starting (see UpdateSet::Blocking).
bool BlocksRun(const UpdateFileCheck& check);

// Reads every update file and "ver.txt" in `folder` (ending in a separator).
UpdateSet ReadUpdateSet(const std::string& folder);

// True when `folder` holds at least one of the update files.
bool HoldsUpdateFiles(const std::string& folder);

// One version as the window shows it beside the device's.
struct ShownVersion {
    std::wstring text;    // the version, or what stands in for it ("нет файла")
    // "ver.txt" names another version than the file itself carries: that one, else empty.
    std::wstring listed;
};

// The firmware version comes from the HEX file's own trailer when the file is ready, "ver.txt" names
// it otherwise only as a listing; the data and radar files carry none, so theirs come from "ver.txt"
// (line 3 and 4) while their file is there to be sent. A file that is not ready shows its state.
ShownVersion FirmwareVersionShown(const UpdateSet& set);
ShownVersion DataVersionShown(const UpdateSet& set);
ShownVersion RadarVersionShown(const UpdateSet& set);
