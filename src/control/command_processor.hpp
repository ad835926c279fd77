#pragma once
// What the command thread does with one decoded command of a valid mote.
//
// Settings (rate, debug modes, event mask, link probabilities, ADC values)
// change at once on the command thread; every one of them is safe to change
// while the simulation thread reads it. Commands that act on motes become
// command events on the queue. Resolve, request and mote-count commands
// build a reply frame. Batches are per command-client slot.

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "control/wire/gui_msg.hpp"

// processCommand: acts on the command from client `slot`; returns the reply
// frame when the command has one.
std::optional<std::vector<uint8_t>> processCommand(int slot, const ctl::GuiMsg& msg,
                                                   std::span<const uint8_t> payload);

// Whether the client in `slot` has a batch open.
bool batch_open(int slot);
// Closes the batch of a slot whose client has gone, so that the next client
// in that slot starts outside a batch.
void reset_batch(int slot);
