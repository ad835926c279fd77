#include "ctl/variable_format.hpp"

#include <cstdio>

#include "protocol/variables.hpp"

namespace brelo_ctl {
namespace {
using protocol::FieldLayout;
using protocol::ValueKind;
using protocol::VariableLayout;

uint8_t width(ValueKind kind) {
  switch (kind) {
    case ValueKind::u8:
    case ValueKind::i8:
    case ValueKind::bytes:
      return 1;
    case ValueKind::u16:
    case ValueKind::i16:
      return 2;
    default:
      return 4;
  }
}

std::string value(ValueKind kind, const uint8_t* p) {
  uint32_t u = 0;
  for (int i = width(kind) - 1; i >= 0; --i) u = (u << 8) | p[i];
  switch (kind) {
    case ValueKind::i8:
      return std::to_string(static_cast<int8_t>(u));
    case ValueKind::i16:
      return std::to_string(static_cast<int16_t>(u));
    case ValueKind::i32:
      return std::to_string(static_cast<int32_t>(u));
    case ValueKind::pointer:
      return u == 0 ? "null" : "set";
    case ValueKind::bytes: {
      char hex[3];
      std::snprintf(hex, sizeof hex, "%02x", p[0]);
      return hex;
    }
    default:
      return std::to_string(u);
  }
}

std::string field_text(const FieldLayout& field, const uint8_t* entry) {
  std::string text = std::string(field.name) + "=";
  if (field.count == 1) return text + value(field.kind, entry + field.offset);
  const char* separator = field.kind == ValueKind::bytes ? "" : ",";
  text += field.kind == ValueKind::bytes ? "" : "[";
  for (uint8_t i = 0; i < field.count; ++i) {
    if (i != 0) text += separator;
    text += value(field.kind, entry + field.offset + i * width(field.kind));
  }
  return text + (field.kind == ValueKind::bytes ? "" : "]");
}

std::string table_text(const VariableLayout& layout, std::span<const uint8_t> bytes) {
  std::string text;
  for (size_t entry = 0; entry < layout.entries; ++entry) {
    size_t start = entry * layout.entry_size;
    if (start + layout.entry_size > bytes.size()) break;
    if (layout.entries > 1) text += "[" + std::to_string(entry) + "]";
    for (const FieldLayout& field : layout.fields) {
      if (!text.empty() && text.back() != '\n') text += " ";
      text += field_text(field, bytes.data() + start);
    }
    text += "\n";
  }
  return text;
}

}  // namespace

std::string describe_variable(std::string_view name, std::span<const uint8_t> bytes) {
  const VariableLayout* layout = protocol::variable_layout(name);
  if (layout != nullptr && !layout->fields.empty()) return table_text(*layout, bytes);
  // Anything else of 1, 2 or 4 bytes reads as one unsigned number, unless
  // the protocol marks it as a signed byte or a pointer.
  size_t size = bytes.size();
  if (size != 1 && size != 2 && size != 4) return "";
  ValueKind kind = size == 1 ? ValueKind::u8 : size == 2 ? ValueKind::u16 : ValueKind::u32;
  if (layout != nullptr && (layout->kind == ValueKind::i8 || layout->kind == ValueKind::pointer)) {
    kind = layout->kind;
  }
  return "= " + value(kind, bytes.data()) + "\n";
}

}  // namespace brelo_ctl
