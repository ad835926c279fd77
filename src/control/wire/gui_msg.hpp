#pragma once
// Frames of the two control ports. Every frame, in both directions, is a
// 14-byte header (GuiMsg) followed by the payload record of its message type.
// The header's fields are big-endian; the payload records are copied
// unchanged (little-endian fields, 32-bit alignment padding included, see
// records.hpp).
//
// Everything here is plain data and byte arithmetic, shared by the simulator
// and by clients, and depends on nothing else in the simulator.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace ctl {

constexpr uint16_t COMMAND_PORT = 10584;
constexpr uint16_t EVENT_PORT = 10585;
constexpr int MAX_CLIENTS = 4;  // per port

// Message types. Events (simulator to event clients) are single bits, so
// that the event mask can select them.
constexpr uint16_t AM_DEBUGMSGEVENT = 1;
constexpr uint16_t AM_RADIOMSGSENTEVENT = 2;
constexpr uint16_t AM_UARTMSGSENTEVENT = 4;
constexpr uint16_t AM_ADCDATAREADYEVENT = 8;
constexpr uint16_t AM_VARNIXINITEVENT = 16;
constexpr uint16_t AM_INTERRUPTEVENT = 32;
constexpr uint16_t AM_LEDEVENT = 64;
// Commands (command clients to the simulator) and the replies to some of them.
constexpr uint16_t AM_TURNONMOTECOMMAND = 0x1000;
constexpr uint16_t AM_TURNOFFMOTECOMMAND = 4097;
constexpr uint16_t AM_RADIOMSGSENDCOMMAND = 4098;
constexpr uint16_t AM_UARTMSGSENDCOMMAND = 4099;
constexpr uint16_t AM_SETLINKPROBCOMMAND = 4100;
constexpr uint16_t AM_SETADCPORTVALUECOMMAND = 4101;
constexpr uint16_t AM_INTERRUPTCOMMAND = 4102;
constexpr uint16_t AM_SETRATECOMMAND = 4103;
constexpr uint16_t AM_SETDBGCOMMAND = 4104;
constexpr uint16_t AM_VARIABLERESOLVECOMMAND = 4105;
constexpr uint16_t AM_VARIABLERESOLVERESPONSE = 4106;
constexpr uint16_t AM_VARIABLEREQUESTCOMMAND = 4107;
constexpr uint16_t AM_VARIABLEREQUESTRESPONSE = 4108;
constexpr uint16_t AM_GETMOTECOUNTCOMMAND = 4109;
constexpr uint16_t AM_GETMOTECOUNTRESPONSE = 4110;
constexpr uint16_t AM_SETEVENTMASKCOMMAND = 4111;
constexpr uint16_t AM_BEGINBATCHCOMMAND = 4112;
constexpr uint16_t AM_ENDBATCHCOMMAND = 4113;

constexpr uint16_t ALL_EVENTS_MASK = 0xFFFF;
// The mote id of replies and of events that concern no single mote.
constexpr uint16_t NO_MOTE = 0xFFFF;

// The frame header as the program sees it.
struct GuiMsg {
  uint16_t msgType = 0;
  uint16_t moteID = 0;
  int64_t time = 0;  // virtual time in ticks
  uint16_t payLoadLen = 0;

  friend bool operator==(const GuiMsg&, const GuiMsg&) = default;
};

constexpr std::size_t GUI_MSG_SIZE = 14;
using HeaderBytes = std::array<uint8_t, GUI_MSG_SIZE>;

HeaderBytes encode_header(const GuiMsg& msg);
GuiMsg decode_header(std::span<const uint8_t, GUI_MSG_SIZE> bytes);

// The size of the payload record of a message type; nullopt for a type that
// has no record (an unknown type).
std::optional<std::size_t> record_size(uint16_t type);

// The type's name as used in logs and by clients ("AM_LEDEVENT"); nullptr
// for an unknown type.
const char* type_name(uint16_t type);

// A whole frame: the header (its payLoadLen set to the payload's size) and
// the payload bytes. Payloads longer than 65535 bytes are cut to that.
std::vector<uint8_t> build_frame(uint16_t type, uint16_t mote, int64_t time,
                                 std::span<const uint8_t> payload);

}  // namespace ctl
