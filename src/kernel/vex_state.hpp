#pragma once
// The simulator record: virtual time, the motes, the event queue and the
// per-mote kernel state. One global instance, vex_state.

#include <array>
#include <condition_variable>
#include <cstdint>
#include <mutex>

#include "kernel/event_queue.hpp"
#include "kernel/relaxed_atomic.hpp"
#include "kernel/vex_types.hpp"
#include "protocol/radio_models.hpp"

constexpr uint8_t VARNIX_RADIO_MODEL_SIMPLE = protocol::RADIO_MODEL_SIMPLE;
constexpr uint8_t VARNIX_RADIO_MODEL_LOSSY = protocol::RADIO_MODEL_LOSSY;
constexpr uint8_t VARNIX_RADIO_MODEL_PACKET = protocol::RADIO_MODEL_PACKET;

struct VEX_node_state_t {
  vex_time_t time = 0;  // boot time as drawn, then the time of the last start or stop
  int pot_setting = 0;  // 73 once the mote has started
};

struct VEX_state_t {
  // Read by the control threads (command times, event stamps), so atomic.
  RelaxedAtomic<vex_time_t> vex_time{0};
  int radio_kb_rate = 0;
  int16_t num_nodes = 0;
  RelaxedAtomic<int16_t> current_node{0};
  std::array<VEX_node_state_t, VEXNODES> node_state{};
  event_queue_t queue;
  uint8_t radioModel = VARNIX_RADIO_MODEL_SIMPLE;
  std::array<bool, VEXNODES> moteOn{};
  std::array<bool, VEXNODES> cancelBoot{};

  // Written under pause_lock; the main loop reads it without the lock first.
  RelaxedAtomic<bool> paused{false};
  std::mutex pause_lock;
  std::condition_variable pause_cond;
  std::condition_variable pause_ack_cond;

  // Back to the state of a process that has just started (used by tests).
  void reset();
};

extern VEX_state_t vex_state;

constexpr uint8_t VEX_DEFAULT_AM_GROUP = 125;
extern uint16_t VEX_LOCAL_ADDRESS;  // the running mote's own address
extern uint8_t VEX_AM_GROUP;        // the active-message group of every mote
