#include "control/wire/gui_msg.hpp"

#include <algorithm>

namespace ctl {
namespace {
struct TypeInfo {
  uint16_t type;
  const char* name;
  std::size_t record_size;
};

constexpr TypeInfo type_table[] = {
    {AM_DEBUGMSGEVENT, "AM_DEBUGMSGEVENT", 512},
    {AM_RADIOMSGSENTEVENT, "AM_RADIOMSGSENTEVENT", 112},
    {AM_UARTMSGSENTEVENT, "AM_UARTMSGSENTEVENT", 112},
    {AM_ADCDATAREADYEVENT, "AM_ADCDATAREADYEVENT", 4},
    {AM_VARNIXINITEVENT, "AM_VARNIXINITEVENT", 9},
    {AM_INTERRUPTEVENT, "AM_INTERRUPTEVENT", 4},
    {AM_LEDEVENT, "AM_LEDEVENT", 1},
    {AM_TURNONMOTECOMMAND, "AM_TURNONMOTECOMMAND", 0},
    {AM_TURNOFFMOTECOMMAND, "AM_TURNOFFMOTECOMMAND", 0},
    {AM_RADIOMSGSENDCOMMAND, "AM_RADIOMSGSENDCOMMAND", 112},
    {AM_UARTMSGSENDCOMMAND, "AM_UARTMSGSENDCOMMAND", 112},
    {AM_SETLINKPROBCOMMAND, "AM_SETLINKPROBCOMMAND", 8},
    {AM_SETADCPORTVALUECOMMAND, "AM_SETADCPORTVALUECOMMAND", 4},
    {AM_INTERRUPTCOMMAND, "AM_INTERRUPTCOMMAND", 4},
    {AM_SETRATECOMMAND, "AM_SETRATECOMMAND", 4},
    {AM_SETDBGCOMMAND, "AM_SETDBGCOMMAND", 8},
    {AM_VARIABLERESOLVECOMMAND, "AM_VARIABLERESOLVECOMMAND", 256},
    {AM_VARIABLERESOLVERESPONSE, "AM_VARIABLERESOLVERESPONSE", 8},
    {AM_VARIABLEREQUESTCOMMAND, "AM_VARIABLEREQUESTCOMMAND", 8},
    {AM_VARIABLEREQUESTRESPONSE, "AM_VARIABLEREQUESTRESPONSE", 260},
    {AM_GETMOTECOUNTCOMMAND, "AM_GETMOTECOUNTCOMMAND", 1},
    {AM_GETMOTECOUNTRESPONSE, "AM_GETMOTECOUNTRESPONSE", 128},
    {AM_SETEVENTMASKCOMMAND, "AM_SETEVENTMASKCOMMAND", 2},
    {AM_BEGINBATCHCOMMAND, "AM_BEGINBATCHCOMMAND", 0},
    {AM_ENDBATCHCOMMAND, "AM_ENDBATCHCOMMAND", 0},
};

const TypeInfo* find_type(uint16_t type) {
  for (const TypeInfo& info : type_table) {
    if (info.type == type) return &info;
  }
  return nullptr;
}

void put_be(uint8_t* out, uint64_t value, int bytes) {
  for (int i = bytes - 1; i >= 0; --i) {
    out[i] = static_cast<uint8_t>(value & 0xFF);
    value >>= 8;
  }
}

uint64_t get_be(const uint8_t* in, int bytes) {
  uint64_t value = 0;
  for (int i = 0; i < bytes; ++i) value = (value << 8) | in[i];
  return value;
}
}  // namespace

HeaderBytes encode_header(const GuiMsg& msg) {
  HeaderBytes bytes{};
  put_be(&bytes[0], msg.msgType, 2);
  put_be(&bytes[2], msg.moteID, 2);
  put_be(&bytes[4], static_cast<uint64_t>(msg.time), 8);
  put_be(&bytes[12], msg.payLoadLen, 2);
  return bytes;
}

GuiMsg decode_header(std::span<const uint8_t, GUI_MSG_SIZE> bytes) {
  GuiMsg msg;
  msg.msgType = static_cast<uint16_t>(get_be(&bytes[0], 2));
  msg.moteID = static_cast<uint16_t>(get_be(&bytes[2], 2));
  msg.time = static_cast<int64_t>(get_be(&bytes[4], 8));
  msg.payLoadLen = static_cast<uint16_t>(get_be(&bytes[12], 2));
  return msg;
}

std::optional<std::size_t> record_size(uint16_t type) {
  const TypeInfo* info = find_type(type);
  if (info == nullptr) return std::nullopt;
  return info->record_size;
}

const char* type_name(uint16_t type) {
  const TypeInfo* info = find_type(type);
  return info == nullptr ? nullptr : info->name;
}

std::vector<uint8_t> build_frame(uint16_t type, uint16_t mote, int64_t time,
                                 std::span<const uint8_t> payload) {
  std::size_t length = std::min<std::size_t>(payload.size(), 0xFFFF);
  GuiMsg msg{type, mote, time, static_cast<uint16_t>(length)};
  HeaderBytes header = encode_header(msg);
  std::vector<uint8_t> frame(GUI_MSG_SIZE + length);
  std::copy(header.begin(), header.end(), frame.begin());
  std::copy_n(payload.begin(), length, frame.begin() + GUI_MSG_SIZE);
  return frame;
}

}  // namespace ctl
