// Step numbers of an update run; the image steps are also the job numbers of the job worker. The
// images are the rows of the image table (ImageTable.h); 6 and 7 are not images and keep their
// numbers, which the windows know.
#pragma once

enum UpdateStep : int {
    StepNone = 0,
    StepProject = 1,   // firmware, "AC7811_project.hex"
    StepEDog = 2,      // speed-camera data, "flagdata.bin"
    StepMusic = 3,     // audio, "audioHead.bin"
    StepPic = 4,       // pictures, "picHead.bin"
    StepRadar = 5,     // radar firmware, "rdfwd.bin"
    StepSettings = 6,  // the device settings block
    StepFinished = 7,  // the whole run has ended
};

// Every step number is below this: the run record keeps one bit per step.
constexpr int kStepLimit = 32;

// The job worker's other jobs have numbers of their own at and above the step limit, so no image row
// can take one (the image table's build-time check refuses a step outside 1..kStepLimit-1).
enum EngineJob : int {
    kFirmwarePauseJob = kStepLimit,  // the pause after the firmware end
    kRefreshJob,                     // the question for the versions after a run
    kEndSettleJob,                   // the settle after an unanswered end command
};
