// Codes of the serial protocol: the frame start byte, the commands the tool sends and the answers the
// device gives. Every frame is AC, length (16-bit little-endian, whole frame), command, payload,
// checksum (8-bit sum of command and payload).
#pragma once

#include <cstdint>

constexpr uint8_t ISP_HEAD = 0xAC;
constexpr int ISP_FRAME_OVERHEAD = 5;          // head, two length bytes, command, checksum
constexpr int ISP_HEADER_SIZE = 4;             // head, two length bytes, command
constexpr int SETTINGS_BLOCK_SIZE = 73;        // the device's settings block
constexpr int FIRMWARE_PAYLOAD_HEADER = 5;     // of a 0x06 frame: 4-byte load address, 1-byte length

// Commands sent by the tool.
constexpr uint8_t CMD_FIRMWARE_DATA = 0x06;    // 4-byte address LE, length, data
constexpr uint8_t CMD_ACK = 0x0D;              // [answered code, 2]
constexpr uint8_t CMD_FIRMWARE_END = 0x1A;
constexpr uint8_t CMD_FIRMWARE_START = 0x1C;   // firmware version, high byte first
constexpr uint8_t CMD_EDOG_END = 0x20;         // ' '
constexpr uint8_t CMD_EDOG_START = 0x21;       // '!'
constexpr uint8_t CMD_EDOG_PACKET = 0x23;      // '#'
constexpr uint8_t CMD_MUSIC_END = 0x30;        // '0'
constexpr uint8_t CMD_MUSIC_START = 0x31;      // '1'
constexpr uint8_t CMD_MUSIC_PACKET = 0x33;     // '3'
constexpr uint8_t CMD_PIC_START = 0x36;        // '6'
constexpr uint8_t CMD_PIC_PACKET = 0x38;       // '8'
constexpr uint8_t CMD_PIC_END = 0x3A;          // ':'
constexpr uint8_t CMD_RADAR_END = 0x40;        // '@'
constexpr uint8_t CMD_RADAR_START = 0x41;      // 'A', radar image size, 32-bit LE
constexpr uint8_t CMD_RADAR_PACKET = 0x43;     // 'C'
constexpr uint8_t CMD_DEVICE_INFO = 0x45;      // 'E', [port number]
constexpr uint8_t CMD_READ_SETTINGS = 0x47;    // 'G'
constexpr uint8_t CMD_READ_SETTINGS_INFO = 0x49;  // 'I'
constexpr uint8_t CMD_WRITE_SETTINGS = 0x4A;   // 'J', the 73-byte settings block

// Answers understood from the device.
constexpr uint8_t ANS_ACK = 0x0D;              // byte 4 command answered, byte 5 status
constexpr uint8_t ANS_IGNORED = 0x13;
constexpr uint8_t ANS_FIRMWARE_READY = 0x19;
constexpr uint8_t ANS_DEVICE_NOTICE = 0x1B;
constexpr uint8_t ANS_FIRMWARE_START_SEEN = 0x1C;
constexpr uint8_t ANS_EDOG_READY = 0x22;
constexpr uint8_t ANS_EDOG_RESULT = 0x24;
constexpr uint8_t ANS_MUSIC_READY = 0x32;
constexpr uint8_t ANS_MUSIC_RESULT = 0x34;
constexpr uint8_t ANS_PIC_READY = 0x37;
constexpr uint8_t ANS_PIC_RESULT = 0x39;
constexpr uint8_t ANS_RADAR_READY = 0x42;
constexpr uint8_t ANS_RADAR_RESULT = 0x44;
constexpr uint8_t ANS_DEVICE_INFO = 0x46;      // 'F'
constexpr uint8_t ANS_SETTINGS = 0x48;         // 'H', byte 4 'G' or 'I', bytes 5..77 the block
constexpr uint8_t ANS_SETTINGS_WRITTEN = 0x4B; // 'K'

constexpr uint8_t ACK_STATUS_ACCEPTED = 2;     // status byte of a 0x0D answer
constexpr uint8_t PACKET_STATUS_ACCEPTED = 1;  // status byte of 0x24 / 0x34 / 0x39

// The receive path accepts answer codes in this range only.
constexpr uint8_t ANSWER_CODE_MIN = 0x01;
constexpr uint8_t ANSWER_CODE_MAX = 0x51;

// Frame offsets of an answer.
constexpr int FRAME_OFFSET_LENGTH = 1;
constexpr int FRAME_OFFSET_CMD = 3;
constexpr int FRAME_OFFSET_ANSWERED = 4;       // the command an answer refers to
constexpr int FRAME_OFFSET_STATUS = 5;
constexpr int FRAME_OFFSET_PORT = 5;           // of the device-information answer
constexpr int FRAME_OFFSET_VERSIONS = 6;       // firmware, data, radar: 16-bit big-endian each
constexpr int FRAME_OFFSET_SETTINGS = 5;       // of the settings answer
