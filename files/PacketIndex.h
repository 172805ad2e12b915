// Access by index to a reader's packets, shared by the HEX and the binary readers: a packet outside
// the list is never touched, and a copy is made only of a packet that exists.
#pragma once

#include <cstddef>
#include <vector>

template <typename Packet>
const Packet* PacketAtIndex(const std::vector<Packet>& packets, int index) {
    if (index < 0 || static_cast<size_t>(index) >= packets.size()) return nullptr;
    return &packets[static_cast<size_t>(index)];
}

// 1 with the packet copied into out; 0 with out untouched when index is out of range.
template <typename Packet>
int CopyPacketAtIndex(const std::vector<Packet>& packets, int index, Packet& out) {
    const Packet* packet = PacketAtIndex(packets, index);
    if (packet == nullptr) return 0;
    out = *packet;
    return 1;
}
