#pragma once
// The packet record every radio, serial and protocol layer uses, and the
// control ports carry. Its bytes are those of the record on a little-endian
// 32-bit machine, padding included; the host struct has the same layout,
// which the assertions below pin down.

#include <cstddef>
#include <cstdint>

constexpr int DATA_LENGTH = 96;
constexpr int MSG_DATA_SIZE = 104;  // bytes up to and including crc
constexpr int LENGTH_BYTE_NUMBER = 5;
constexpr uint16_t VEX_BCAST_ADDR = 65535;
constexpr uint16_t VEX_UART_ADDR = 126;

struct VEX_Msg {
  uint16_t addr;
  uint8_t type;
  uint8_t group;
  uint8_t length;
  int8_t data[DATA_LENGTH];
  uint8_t pad_101;
  uint16_t crc;
  uint16_t strength;
  uint8_t ack;
  uint8_t pad_107;
  uint16_t time;
  uint8_t sendSecurityMode;
  uint8_t receiveSecurityMode;
};
using VEX_MsgPtr = VEX_Msg*;

static_assert(sizeof(VEX_Msg) == 112);
static_assert(offsetof(VEX_Msg, addr) == 0);
static_assert(offsetof(VEX_Msg, type) == 2);
static_assert(offsetof(VEX_Msg, group) == 3);
static_assert(offsetof(VEX_Msg, length) == 4);
static_assert(offsetof(VEX_Msg, data) == 5);
static_assert(offsetof(VEX_Msg, crc) == 102);
static_assert(offsetof(VEX_Msg, strength) == 104);
static_assert(offsetof(VEX_Msg, ack) == 106);
static_assert(offsetof(VEX_Msg, time) == 108);
static_assert(offsetof(VEX_Msg, sendSecurityMode) == 110);
static_assert(offsetof(VEX_Msg, receiveSecurityMode) == 111);
static_assert(alignof(VEX_Msg) == 2);
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "records are little-endian on the wire");

// Active-message types in use.
constexpr uint8_t AM_OPERATORMSG = 8;
constexpr uint8_t AM_RADIOMSG = 9;
constexpr uint8_t AM_NETMSG = 10;
constexpr uint8_t AM_MSGUART = 15;
