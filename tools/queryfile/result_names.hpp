#pragma once
// The names of a result's fields. Mote 0's serial port sends the 20 bytes
// of a record and nothing that says which query or stream it came from, so
// the names are worked out from the plan: the kinds of record the serial
// outputs running when the result left may send (their query started on
// mote 0 and not yet stopped there), narrowed to those whose mote field
// holds one of the motes that can start such a record. Where the kinds left
// disagree on a field's name, that field gets a neutral name ("field3")
// rather than a guess.

#include <cstdint>
#include <span>
#include <vector>

#include "queryfile/query_compile.hpp"

namespace query_file {

// `message_times`: per message of `plan`, when it entered mote 0 (messages
// for mote 0) or left its radio (the others), -1 while not known; empty to
// go by the planned times. Empty when nothing is known of the result.
Layout result_names(const Plan& plan, const std::vector<int64_t>& message_times,
                    std::span<const uint8_t> data, int64_t time);

}  // namespace query_file
