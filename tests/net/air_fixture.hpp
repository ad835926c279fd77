#pragma once
// Booted motes whose radio packets travel through a stand-in for the air,
// so that motes talk to each other without the bit-level radio.
//
// The active-message layer hands a packet to the radio from its send task.
// drain() runs the task ring like the main loop does, but takes that task
// out before it runs: the packet is copied "onto the air", every other mote
// that is on receives the copy kAirTime ticks later (as if its radio had
// heard it), and the sender's radio completion follows one tick after that.
// The motes' own components, from the active-message layer up, run as they
// do in the simulator.

#include <initializer_list>
#include <utility>
#include <vector>

#include "support/world_test.hpp"
#include "kernel/event.hpp"
#include "kernel/per_mote.hpp"
#include "kernel/scheduler.hpp"
#include "kernel/vex_state.hpp"
#include "net/am_promiscuous.hpp"
#include "net/brelo_entry.hpp"

class AirTest : public WorldTest {
 protected:
  static constexpr vex_time_t kAirTime = 1000;

  // What the air does with the next packets; tests change them.
  static inline bool deliver_packets = true;      // false: lost on the way
  static inline result_t send_outcome = SUCCESS;  // the sender's completion
  static inline std::vector<std::pair<int, VEX_Msg>> sent;  // (sender, packet), in order

  void SetUp() override {
    WorldTest::SetUp();
    deliver_packets = true;
    send_outcome = SUCCESS;
    sent.clear();
    vex_state.num_nodes = 6;
    if (am_send_task == nullptr) am_send_task = find_am_send_task();
  }

  static void boot(std::initializer_list<uint16_t> motes) {
    for (uint16_t m : motes) {
      brelo_start_mote(m);
      drain();
    }
  }

  // Makes a mote current, as its events do.
  static void as_mote(uint16_t mote) {
    vex_state.current_node = static_cast<int16_t>(mote);
    VEX_LOCAL_ADDRESS = mote;
  }

  // Runs every queued task as the current mote, sending packets to the air.
  static void drain() {
    while (VEXH_queue[VEXH_sched_full].tp != nullptr) {
      if (VEXH_queue[VEXH_sched_full].tp == am_send_task) {
        VEXH_queue[VEXH_sched_full].tp = nullptr;
        VEXH_sched_full = (VEXH_sched_full + 1) & VEXH_TASK_BITMASK;
        transmit();
      } else {
        VEXH_run_next_task();
      }
    }
  }

  // Runs events (and the tasks they post) for `ticks` of virtual time.
  static void run_for(vex_time_t ticks) {
    vex_time_t until = vex_state.vex_time + ticks;
    drain();
    while (!vex_state.queue.is_empty() && vex_state.queue.peek_event_time() <= until) {
      vex_state.queue.handle_next_event(vex_state);
      drain();
    }
    if (vex_state.vex_time < until) vex_state.vex_time = until;
  }
  // Long enough for a packet to arrive and its send to complete.
  static void settle() { run_for(3 * kAirTime); }

 private:
  static inline task_t am_send_task = nullptr;

  struct Reception final : event_t {
    VEX_Msg packet;
    Reception(int to, vex_time_t at, const VEX_Msg& msg) : packet(msg) {
      mote = to;
      time = at;
    }
    void handle(EventPtr, VEX_state_t&) override { BRELO_received_radio(&packet); }
  };
  struct Completion final : event_t {
    result_t outcome;
    Completion(int sender, vex_time_t at, result_t result) : outcome(result) {
      mote = sender;
      time = at;
    }
    void handle(EventPtr, VEX_state_t&) override {
      AMPromiscuous::RadioSend_sendDone(AMPromiscuous::vars().buffer, outcome);
    }
  };

  static void transmit() {
    int sender = vex_state.current_node;
    const VEX_Msg& packet = *AMPromiscuous::vars().buffer;
    sent.emplace_back(sender, packet);
    vex_time_t now = vex_state.vex_time;
    if (deliver_packets) {
      for (int m = 0; m < vex_state.num_nodes; ++m) {
        if (m == sender || !vex_state.moteOn[m]) continue;
        vex_state.queue.insert_event(std::make_unique<Reception>(m, now + kAirTime, packet));
      }
    }
    vex_state.queue.insert_event(std::make_unique<Completion>(sender, now + kAirTime + 1,
                                                              send_outcome));
  }

  // The send task is private to the active-message layer; a send on a fresh
  // mote posts it into an empty ring, where it can be recognised.
  static task_t find_am_send_task() {
    as_mote(0);
    __quil_brelo_initialise(0);
    VEXH_sched_init();
    VEX_Msg probe{};
    AMPromiscuous::SendMsg_send(AM_NETMSG, 1, 0, &probe);
    task_t task = VEXH_queue[VEXH_sched_full].tp;
    VEXH_sched_init();
    __quil_brelo_initialise(0);
    return task;
  }
};
