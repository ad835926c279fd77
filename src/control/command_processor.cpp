#include "control/command_processor.hpp"

#include <array>
#include <cstring>
#include <string>

#include "control/command_event.hpp"
#include "control/event_clients.hpp"
#include "control/variable_access.hpp"
#include "control/wire/records.hpp"
#include "devices/adc_model.hpp"
#include "kernel/dbg.hpp"
#include "kernel/pacing.hpp"
#include "kernel/schedule.hpp"
#include "kernel/vex_state.hpp"
#include "kernel/world.hpp"
#include "radio/connectivity.hpp"

namespace {
// 1 while the client in that slot has a batch open. Command thread only.
std::array<uint8_t, ctl::MAX_CLIENTS> batchState{};

template <typename R>
std::vector<uint8_t> reply(uint16_t type, const R& record) {
  return ctl::build_frame(type, ctl::NO_MOTE, sim::now(), ctl::to_bytes(record));
}

std::vector<uint8_t> resolve(uint16_t mote, std::span<const uint8_t> payload) {
  ctl::VariableResolveResponse response{0, ctl::UNKNOWN_VARIABLE_LENGTH};
  bool terminated = false;
  // Only a name that ends inside its 256 bytes is looked up.
  std::string name(ctl::resolve_name(payload, &terminated));
  if (terminated &&
      __quil_brelo_resolve(mote, name.c_str(), &response.addr, &response.length) != 0) {
    response = {0, ctl::UNKNOWN_VARIABLE_LENGTH};
  }
  dbg_clear(DBG_SIM, "SIM: Resolving variable %s for mote %d: 0x%x %d\n", name.c_str(), mote,
            response.addr, static_cast<int>(response.length));
  return reply(ctl::AM_VARIABLERESOLVERESPONSE, response);
}

std::vector<uint8_t> request(std::span<const uint8_t> payload) {
  auto command = ctl::from_bytes<ctl::VariableRequestCommand>(payload);
  ctl::VariableRequestResponse response{};
  response.length = command.length == 0 ? 256 : command.length;
  switch (brelo_read_variable(command.addr, response.length, response.value)) {
    case VariableRead::read: break;
    case VariableRead::no_such_address:
      // An address nobody handed out reads as zeros, never as stray memory.
      std::memset(response.value, 0, sizeof response.value);
      break;
    case VariableRead::not_served:
      // Length 0 (a request never gets it otherwise) says nothing was read:
      // zeros must not pass for the variable's value.
      response.length = 0;
      // No debug line: it would go to event clients, whose sending may be
      // what holds the simulation thread up.
      std::memset(response.value, 0, sizeof response.value);
      break;
  }
  return reply(ctl::AM_VARIABLEREQUESTRESPONSE, response);
}

std::vector<uint8_t> mote_count() {
  ctl::GetMoteCountResponse response{};
  response.totalMotes = static_cast<uint16_t>(vex_state.num_nodes);
  for (int mote = 0; mote < VEXNODES; ++mote) ctl::set_mote_bit(response, mote);
  return reply(ctl::AM_GETMOTECOUNTRESPONSE, response);
}
}  // namespace

bool batch_open(int slot) { return batchState[slot] != 0; }

void reset_batch(int slot) { batchState[slot] = 0; }

namespace {
const WorldReset clear_batches{[] { restore_table(batchState); }};
}  // namespace

std::optional<std::vector<uint8_t>> processCommand(int slot, const ctl::GuiMsg& msg,
                                                   std::span<const uint8_t> payload) {
  switch (msg.msgType) {
    case ctl::AM_SETLINKPROBCOMMAND: {
      auto command = ctl::from_bytes<ctl::SetLinkProbCommand>(payload);
      set_link_prob_value(msg.moteID, command.moteReceiver, command.scaledProb / 10000.0);
      return std::nullopt;
    }
    case ctl::AM_SETADCPORTVALUECOMMAND: {
      auto command = ctl::from_bytes<ctl::SetADCPortValueCommand>(payload);
      set_adc_value(msg.moteID, command.port, command.value);
      return std::nullopt;
    }
    case ctl::AM_SETRATECOMMAND:
      set_sim_rate(ctl::from_bytes<ctl::SetRateCommand>(payload).rate);
      return std::nullopt;
    case ctl::AM_SETDBGCOMMAND:
      dbg_set(ctl::from_bytes<ctl::SetDBGCommand>(payload).dbg);
      return std::nullopt;
    case ctl::AM_VARIABLERESOLVECOMMAND: return resolve(msg.moteID, payload);
    case ctl::AM_VARIABLEREQUESTCOMMAND: return request(payload);
    case ctl::AM_GETMOTECOUNTCOMMAND: return mote_count();
    case ctl::AM_SETEVENTMASKCOMMAND:
      eventMask = ctl::from_bytes<ctl::SetEventMaskCommand>(payload).mask;
      return std::nullopt;
    case ctl::AM_BEGINBATCHCOMMAND:
      if (batchState[slot] != 0) dbg_clear(DBG_ERROR | DBG_SIM, "SIM: duplicate begin batch\n");
      dbg_clear(DBG_SIM, "SIM: begin batch\n");
      batchState[slot] = 1;
      return std::nullopt;
    case ctl::AM_ENDBATCHCOMMAND:
      if (batchState[slot] == 0) dbg_clear(DBG_ERROR | DBG_SIM, "SIM: end batch without begin\n");
      dbg_clear(DBG_SIM, "SIM: end batch\n");
      batchState[slot] = 0;
      return std::nullopt;
    default:
      if (!enqueue_command_event(msg, std::vector<uint8_t>(payload.begin(), payload.end()))) {
        dbg_clear(DBG_ERROR | DBG_SIM,
                  "SIM: Too many pending commands; dropping command type %d for mote %d\n",
                  msg.msgType, msg.moteID);
      }
      return std::nullopt;
  }
}
