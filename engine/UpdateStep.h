// Step numbers of an update run; also the job numbers of the job worker (1 to 5).
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
