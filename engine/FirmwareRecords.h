// Which records of a firmware HEX image go to the device, and at which address.
//
// The first record must be an extended-linear-address record (type 04): it gives the upper 16 bits of
// the load address. After it, each data record (type 00) is sent at upper x 65536 + its offset; each
// further type-04 record sets the upper half from its own two bytes; start-address, segment-address
// and end-of-file records are never sent, and the walk ends at the end-of-file record.
#pragma once

#include <functional>

#include "files/File_Project.h"

constexpr uint8_t HEX_TYPE_DATA = 0x00;
constexpr uint8_t HEX_TYPE_END_OF_FILE = 0x01;
constexpr uint8_t HEX_TYPE_EXTENDED_LINEAR = 0x04;

// The upper address a type-04 record gives (the record's two data bytes, high first).
int ExtendedLinearAddress(const CPacket_Hex& record, int fallback);

// Calls onData for every data record in file order with the upper address in force, and onUpper
// (when given) each time a type-04 record after the first sets it. False, with no call, when the
// image is empty or does not start with a type-04 record.
bool WalkFirmwareRecords(const CFile_Project& image,
                         const std::function<void(const CPacket_Hex& record, int upper)>& onData,
                         const std::function<void(int index, int upper, int previous)>& onUpper = {});
