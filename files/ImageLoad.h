// What loading one update file gave. The engine sends only Ready images, skips Absent and Empty ones,
// and refuses to start a run while any image is Refused: half an image, or an image placed at the
// wrong address, must never reach the device.
#pragma once

#include <string>

enum class ImageState {
    Absent,   // no file of that name (or never loaded): the step is skipped in silence
    Ready,    // loaded whole; the step sends it
    Empty,    // the file is there but holds no byte: the step is skipped, with a warning
    Refused,  // the file is there but cannot be sent as it is; `reason` says why
};

struct ImageLoadStatus {
    ImageState state = ImageState::Absent;
    // For Refused (and Empty): what was wrong, in Russian, for the user; with the record number for
    // a firmware file ("запись 101: ..."). Empty for Absent and Ready.
    std::wstring reason;
};
