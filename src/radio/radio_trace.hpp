#pragma once
// What the bit-level radio tells the packet trace: the frames motes start
// sending, and the frames their radios finish receiving, with whether the
// CRC passed and whether another sender's frame overlapped the reception.
//
// Collisions: every frame a mote starts is remembered as on the air from
// its first bit to the end of its strength pulse (worked out from its
// length). When a receiver has checked a frame's CRC, the senders linked to
// it whose frames overlapped the reception are counted: one means the frame
// had the air to itself (a CRC failure then comes from bit errors on the
// link), more than one a collision, none that the reception matches no
// frame (Collision::unknown). Acknowledgement bytes are not counted.
//
// Callers test packet_trace::enabled first; these functions then do the work.

#include <cstdint>

#include "net/vex_msg.hpp"

namespace RadioTrace {

// The running mote has started sending `msg` on the air, of `record_bytes`
// record bytes and the crc computed over them.
void frame_started(const VEX_Msg& msg, uint8_t record_bytes);

// The running mote's radio has checked the CRC of the frame it received into
// `msg` (whose crc field still holds the received value), of `record_bytes`
// record bytes.
void crc_checked(const VEX_Msg& msg, uint8_t record_bytes, bool passed);

// The running mote's radio hands the frame of the last crc_checked up.
void frame_received(const VEX_Msg& msg);

}  // namespace RadioTrace
