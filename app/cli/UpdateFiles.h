// The five update files the engine looks for beside the program, in the order of a run.
#pragma once

#include <string>
#include <vector>

struct UpdateFile {
    const char* name;      // file name in the folder
    const wchar_t* title;  // what it is, for the user
    int step;              // the run's step number
};

const std::vector<UpdateFile>& UpdateFileList();

// True when at least one of the five files exists in `folder` (ending in '/').
bool AnyUpdateFilePresent(const std::string& folder);
