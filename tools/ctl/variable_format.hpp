#pragma once
// Decodes the bytes of a component variable, as the simulator hands them
// out (the layout of a little-endian 32-bit machine), into readable fields.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace brelo_ctl {

// One line per table entry ("[2] query_id=1 operator=3 ...") or a single
// "= value" line for a scalar. Empty when the variable's type is unknown or
// `bytes` is shorter than one element of it.
std::string describe_variable(std::string_view name, std::span<const uint8_t> bytes);

}  // namespace brelo_ctl
