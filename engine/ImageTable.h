// The update images, one row each, in the order of a run. Everything the engine, the protocol driver,
// the command line and the windows need to know about an image is in its row: a new image type is a
// new row (plus a reader if it is of a new kind, and the simulator's side of it).
//
// The table is constant data, initialised before any static object runs; every function here may be
// called from any thread.
#pragma once

#include <cstdint>
#include <span>

// Which reader turns the file into packets.
enum class ImageReaderKind {
    Hex,    // CFile_Project: Intel HEX records, each re-framed with its load address
    Data,   // CFile_EDogMusicPic: 4096-byte chunks sent as stored
    Radar,  // CFile_Radar: 1024-byte, then 128-byte chunks sent as stored; the file size is kept
};

// What the start command carries.
enum class StartPayload {
    None,
    FirmwareVersion,  // the HEX image's version, 2 bytes, high byte first
    ImageSize,        // the image's size in bytes, 4 bytes, little-endian
};

// How the device's answer to one packet says whether it took it.
enum class ResultRule {
    AckStatus,   // 0x0D [packet command, status]; status 2 accepts, any other refuses
    StatusByte,  // the result answer [packet command, status]; status 1 accepts, any other refuses
    Unexamined,  // every result answer counts the packet, whatever its status byte says
};

struct ImageRow {
    int step;                   // UpdateStep; also the job number
    const wchar_t* fileName;    // in the tool folder
    const wchar_t* title;       // what the file holds, for the user ("прошивка")
    const wchar_t* summaryName; // the step in the command line's summary ("ПО")
    uint8_t startCmd;
    uint8_t packetCmd;
    uint8_t endCmd;
    uint8_t readyAnswer;        // the device waits for the packets
    uint8_t resultAnswer;       // the device's answer to each packet (ANS_ACK for the firmware)
    ResultRule resultRule;
    // True: the device confirms the end with 0x0D [end, 2], and the step ends then, after which the
    // device needs the firmware pause before the next image. False: the device never answers the end
    // command, so the step ends as soon as it has been written.
    bool deviceConfirmsEnd;
    // The device may also send 0x0D [end, …] for this end command; it is taken as the command's
    // acknowledgement (it finds the command long gone, so it changes nothing).
    bool endAckAccepted;
    StartPayload startPayload;
    // The step whose end selects and announces this step as soon as its start command is queued,
    // before the device's ready answer announces it again; StepNone for none.
    int announcedAfter;
    const wchar_t* traceFormat; // "EDog PacketNum is:%ld\r\n", with the number of packets
    ImageReaderKind reader;
    const wchar_t* runningText;   // status text while the step runs
    const wchar_t* succeededText; // status text when it ends with result 0
    const wchar_t* failedText;    // status text when it ends with any other result
};

// The rows in the order a run sends the images.
std::span<const ImageRow> ImageRows();

// The row of an image step, or null for any other step.
const ImageRow* ImageByStep(int step);
// The row whose start, packet or end command is `cmd`, or null.
const ImageRow* ImageByCommand(uint8_t cmd);
// The row whose ready answer is `code`, or null.
const ImageRow* ImageByReadyAnswer(uint8_t code);
// The row whose packet result answer is `code` (never ANS_ACK, which answers far more than packets),
// or null.
const ImageRow* ImageByResultAnswer(uint8_t code);
// Position of the row in ImageRows(); -1 for null.
int ImageIndex(const ImageRow* row);

// Bytes of a start command's payload.
int StartPayloadBytes(StartPayload payload);
// The step a queued command belongs to: an image command gives its image's step, the settings write
// StepSettings, the connect-time commands (device information, settings reads) StepNone.
int StepOfCommand(uint8_t cmd);
// True for an image end command the device never answers.
bool IsUnansweredImageEnd(uint8_t cmd);
