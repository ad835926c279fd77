#pragma once
// Operator messages as a host composes them (the builders are shared with
// brelo-ctl), and records of the query engine, for tests in process and
// over the control port alike.

#include <cstdint>
#include <initializer_list>
#include <vector>

#include "queryfile/operator_messages.hpp"
#include "query/pellund_m.hpp"

namespace query_test {
using namespace PellundM;
using namespace operator_messages;

// A record of 16-bit fields, high byte first.
inline std::vector<int8_t> fields(std::initializer_list<uint16_t> values) {
  std::vector<int8_t> out;
  for (uint16_t v : values) {
    out.push_back(static_cast<int8_t>(v >> 8));
    out.push_back(static_cast<int8_t>(v & 0xFF));
  }
  return out;
}
}  // namespace query_test
