#include "ctl/variable_format.hpp"

#include <array>
#include <cstdio>
#include <vector>

namespace brelo_ctl {
namespace {

enum class Kind { u8, i8, u16, i16, u32, i32, pointer, bytes };

struct Field {
  const char* name;
  uint8_t offset;
  Kind kind;
  uint8_t count = 1;  // elements of an array field (bytes: its length)
};

// A variable made of `entries` elements of `entry_size` bytes each.
struct Layout {
  const char* variable;
  uint16_t entry_size;
  uint8_t entries;
  std::vector<Field> fields;
};

// The cursor, pointer and waiting-read fields every ring-backed stream
// entry has, given where its cursor bytes and its pointers start.
std::vector<Field> ring_fields(std::vector<Field> head, uint8_t bytes, uint8_t pointers) {
  const std::array<const char*, 5> cursors = {"first", "last", "current_cursor", "buffer_size",
                                              "data_counter"};
  for (uint8_t i = 0; i < cursors.size(); ++i) head.push_back({cursors[i], uint8_t(bytes + i), Kind::u8});
  head.push_back({"buffer", pointers, Kind::pointer});
  head.push_back({"buffer_elem_size", uint8_t(pointers + 4), Kind::pointer});
  head.push_back({"read_requested", uint8_t(pointers + 8), Kind::u8, 4});
  head.push_back({"tail", uint8_t(pointers + 12), Kind::u8});
  head.push_back({"head", uint8_t(pointers + 13), Kind::u8});
  head.push_back({"num_reads", uint8_t(pointers + 14), Kind::u8});
  return head;
}

const std::vector<Layout>& layouts() {
  static const std::vector<Layout> all = {
      {"PellundM$operator_table",
       44,
       12,
       {{"query_id", 0, Kind::u8},
        {"operator", 4, Kind::u32},
        {"stream_output", 8, Kind::i8},
        {"stream_input1", 9, Kind::i8},
        {"stream_input2", 10, Kind::i8},
        {"predicate", 12, Kind::u32},
        {"field1", 16, Kind::u8},
        {"field2", 17, Kind::u8},
        {"constant", 18, Kind::u8},
        {"constant2", 19, Kind::u8},
        {"constant3", 20, Kind::u8},
        {"numfields", 21, Kind::u8},
        {"data", 22, Kind::bytes, 20}}},
      {"PellundM$open_table",
       24,
       10,
       {{"query_id", 0, Kind::u8},
        {"table_id", 1, Kind::u8},
        {"no", 2, Kind::i8},
        {"symbolic_name", 3, Kind::u8},
        {"stream_rate", 4, Kind::u32},
        {"start_time", 12, Kind::u32},
        {"reliability", 16, Kind::u8},
        {"buffer_size", 17, Kind::u8},
        {"dest", 18, Kind::u16},
        {"sensor_tid", 20, Kind::u8},
        {"sampling_type", 21, Kind::u8},
        {"validity", 22, Kind::u8}}},
      {"PellundM$open_requested",
       20,
       6,
       {{"symbolic_name", 0, Kind::u8},
        {"stream_rate", 4, Kind::u32},
        {"start_time", 12, Kind::u32},
        {"reliability", 16, Kind::u8},
        {"buffer_size", 17, Kind::u8},
        {"dest", 18, Kind::u16}}},
      {"PellundM$read_requested",
       3,
       6,
       {{"table_id", 0, Kind::u8}, {"no", 1, Kind::i8}, {"num_reads", 2, Kind::u8}}},
      {"TimerM$mTimerList",
       12,
       11,
       {{"type", 0, Kind::u8}, {"ticks", 4, Kind::i32}, {"ticksLeft", 8, Kind::i32}}},
      {"NetToSSM$channel_table",
       8,
       4,
       {{"channel_id", 0, Kind::i32}, {"dest", 4, Kind::u16}, {"validity", 6, Kind::u8}}},
      {"SSToAppM$local_table", 24, 4, ring_fields({{"validity", 0, Kind::u8}}, 1, 8)},
      {"SSToAppM$sensor_table",
       32,
       4,
       ring_fields({{"sensor_tid", 0, Kind::u8},
                    {"stream_rate", 4, Kind::u32},
                    {"sampling_type", 8, Kind::u8}},
                   9, 16)},
      {"SSToAppM$dest_remote_table",
       60,
       4,
       ring_fields({{"symbolic_name", 0, Kind::u8},
                    {"channel_id", 4, Kind::i32, 4},
                    {"stream_rate", 20, Kind::u32, 4},
                    {"src_validity", 36, Kind::u8},
                    {"reliability", 37, Kind::u8},
                    {"src_counter", 38, Kind::u8}},
                   39, 44)},
      {"SSToAppM$src_remote_table",
       12,
       4,
       {{"channel_id", 0, Kind::i32},
        {"symbolic_name", 4, Kind::u8},
        {"current_cursor", 5, Kind::u8},
        {"buffer_size", 6, Kind::u8},
        {"buffer", 8, Kind::pointer}}},
      {"TimerM$queue", 1, 11, {{"id", 0, Kind::i8}}},
      {"SSToAppM$openRemoteDone_stream_desc",
       2,
       1,
       {{"table_id", 0, Kind::u8}, {"no", 1, Kind::i8}}},
  };
  return all;
}

// Scalars that are not unsigned numbers; every other 1, 2 or 4-byte
// variable reads as one.
bool is_signed(std::string_view name) {
  return name == "TimerM$queue_head" || name == "TimerM$queue_tail";
}
bool is_pointer(std::string_view name) {
  for (std::string_view p : {"NetToSSM$pbuffer", "AMPromiscuous$buffer", "OrlaHighSpeedRadioM$rec_ptr",
                             "OrlaHighSpeedRadioM$send_ptr", "channelMonEvents", "radioTimingEvents"}) {
    if (name == p) return true;
  }
  return false;
}

uint8_t width(Kind kind) {
  switch (kind) {
    case Kind::u8:
    case Kind::i8:
    case Kind::bytes:
      return 1;
    case Kind::u16:
    case Kind::i16:
      return 2;
    default:
      return 4;
  }
}

std::string value(Kind kind, const uint8_t* p) {
  uint32_t u = 0;
  for (int i = width(kind) - 1; i >= 0; --i) u = (u << 8) | p[i];
  switch (kind) {
    case Kind::i8:
      return std::to_string(static_cast<int8_t>(u));
    case Kind::i16:
      return std::to_string(static_cast<int16_t>(u));
    case Kind::i32:
      return std::to_string(static_cast<int32_t>(u));
    case Kind::pointer:
      return u == 0 ? "null" : "set";
    case Kind::bytes: {
      char hex[3];
      std::snprintf(hex, sizeof hex, "%02x", p[0]);
      return hex;
    }
    default:
      return std::to_string(u);
  }
}

std::string field_text(const Field& field, const uint8_t* entry) {
  std::string text = std::string(field.name) + "=";
  if (field.count == 1) return text + value(field.kind, entry + field.offset);
  const char* separator = field.kind == Kind::bytes ? "" : ",";
  text += field.kind == Kind::bytes ? "" : "[";
  for (uint8_t i = 0; i < field.count; ++i) {
    if (i != 0) text += separator;
    text += value(field.kind, entry + field.offset + i * width(field.kind));
  }
  return text + (field.kind == Kind::bytes ? "" : "]");
}

}  // namespace

std::string describe_variable(std::string_view name, std::span<const uint8_t> bytes) {
  for (const Layout& layout : layouts()) {
    if (name != layout.variable) continue;
    std::string text;
    for (size_t entry = 0; entry < layout.entries; ++entry) {
      size_t start = entry * layout.entry_size;
      if (start + layout.entry_size > bytes.size()) break;
      if (layout.entries > 1) text += "[" + std::to_string(entry) + "]";
      for (const Field& field : layout.fields) {
        if (!text.empty() && text.back() != '\n') text += " ";
        text += field_text(field, bytes.data() + start);
      }
      text += "\n";
    }
    return text;
  }
  size_t size = bytes.size();
  if (size != 1 && size != 2 && size != 4) return "";
  Kind kind = size == 1 ? Kind::u8 : size == 2 ? Kind::u16 : Kind::u32;
  if (is_signed(name)) kind = Kind::i8;
  if (is_pointer(name)) kind = Kind::pointer;
  return "= " + value(kind, bytes.data()) + "\n";
}

}  // namespace brelo_ctl
