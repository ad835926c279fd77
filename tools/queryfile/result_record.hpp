#pragma once
// Results as they leave mote 0's serial port: 20 bytes of one record,
// fields high byte first, read by the layout of the stream the serial
// output reads. (The host library's result sinks show them.)

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "queryfile/query_compile.hpp"

namespace query_file {

struct Result {
  int64_t time = 0;  // virtual ticks when mote 0 sent it
  std::optional<uint16_t> mote, timestamp, epoch;
  std::vector<std::pair<std::string, uint16_t>> fields;  // the others, by name
};

// Reads a result. Without a layout every field is shown, trailing zero
// fields left out.
Result decode_result(std::span<const uint8_t> data, const Layout* layout, int64_t time);

}  // namespace query_file
