#include "control/command_reader.hpp"

#include <array>
#include <span>
#include <vector>

#include "control/command_processor.hpp"
#include "control/event_clients.hpp"
#include "control/stop_signal.hpp"
#include "control/wire/gui_msg.hpp"
#include "control/wire/socket_io.hpp"
#include "kernel/dbg.hpp"
#include "kernel/schedule.hpp"
#include "kernel/vex_state.hpp"

namespace {
bool closing(int fd) {
  dbg_clear(DBG_SIM, "SIM: Closing client socket %d.\n", fd);
  return false;
}
}  // namespace

bool readVarnixCommand(int fd, int slot) {
  dbg_clear(DBG_SIM, "SIM: Reading command from client fd %d\n", fd);
  // The whole frame must arrive within one stall timeout of its first byte.
  ctl::Deadline deadline = ctl::deadline_after(client_stall_timeout());
  const int stop = control_stop::fd();

  ctl::HeaderBytes header_bytes{};
  dbg_clear(DBG_SIM, "SIM: Reading in GuiMsg header of size %d with length %d\n",
            static_cast<int>(ctl::GUI_MSG_SIZE), 0);
  if (ctl::read_exact(fd, header_bytes, deadline, stop) != ctl::IoStatus::ok) return closing(fd);
  ctl::GuiMsg msg = ctl::decode_header(header_bytes);
  dbg_clear(DBG_SIM, "SIM: Command type %d mote %d time 0x%llx payloadlen %d\n", msg.msgType,
            msg.moteID, static_cast<unsigned long long>(msg.time), msg.payLoadLen);

  // Commands never act in the past.
  vex_time_t now = sim::now();
  if (msg.time < now) msg.time = now;

  std::vector<uint8_t> payload(msg.payLoadLen);
  if (!payload.empty()) {
    dbg_clear(DBG_SIM, "SIM: Reading in GuiMsg payload of size %d with length %d\n",
              static_cast<int>(payload.size()), 0);
    std::size_t got = 0;
    ctl::IoStatus status = ctl::read_exact(fd, payload, deadline, stop, &got);
    dbg_clear(DBG_SIM, "SIM: Read from command port, total: %d, need %d\n", static_cast<int>(got),
              static_cast<int>(payload.size()));
    if (status != ctl::IoStatus::ok) return closing(fd);
  }

  std::optional<std::vector<uint8_t>> reply;
  if (msg.moteID < vex_state.num_nodes) {
    reply = processCommand(slot, msg, payload);
  } else {
    dbg_clear(DBG_ERROR | DBG_SIM, "SIM: Received command for invalid mote: %i\n", msg.moteID);
  }

  // Tested after processing: the begin-batch command itself goes
  // unacknowledged, the end-batch command is acknowledged.
  if (batch_open(slot)) {
    if (reply) dbg_clear(DBG_ERROR | DBG_SIM, "SIM: unexpected command response in batch!!\n");
    return true;
  }
  const std::array<uint8_t, 1> ack{1};
  ctl::Deadline write_deadline = ctl::deadline_after(client_stall_timeout());
  if (ctl::write_all(fd, ack, write_deadline, stop) != ctl::IoStatus::ok) return closing(fd);
  if (reply) {
    dbg_clear(DBG_SIM, "SIM: Sending %d byte reply.\n", static_cast<int>(reply->size()));
    if (ctl::write_all(fd, *reply, write_deadline, stop) != ctl::IoStatus::ok) return closing(fd);
    uint8_t client_ack = 0;
    if (ctl::read_exact(fd, std::span(&client_ack, 1), write_deadline, stop) != ctl::IoStatus::ok) {
      return closing(fd);
    }
  }
  return true;
}
