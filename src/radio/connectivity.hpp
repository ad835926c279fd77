#pragma once
// The radio connectivity model: what every mote's receiver hears while other
// motes transmit. The bit-level radio reports each bit a mote puts on the air
// (transmit, stop_transmit) and asks, bit by bit, whether a mote hears a 1.
//
// Two models share one set of tables:
//  - simple: all simulated motes form one lossless cell; a sender hears itself.
//  - lossy: directed links with a bit-error probability each, read from a text
//    file; every bit crossing a link is inverted with that probability.
// Overlapping carriers combine as a logical OR: a receiver hears a 1 when at
// least one contribution arriving at it is 1.
//
// Threads: the simulation thread runs every operation; the control thread
// only calls set_link_prob_value. radioConnectivityLock guards the link lists
// (adding links and changing their probability); the per-mote counters are
// touched by the simulation thread alone. Links are never freed while the
// model lives, so a list head handed out by neighbors stays walkable while
// links are added in front of it.

#include <array>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "kernel/vex_types.hpp"

// One directed link from a sender to a receiver, in the sender's list.
struct link_t {
  int32_t mote;       // the receiving mote
  double data;        // bit-error probability, 0.0 to 1.0
  uint8_t bit;        // what the sender's current bit contributes at the receiver
  link_t* next_link;  // the sender's next link
};

constexpr int LINK_BLOCK_SIZE = 200;  // links are allocated this many at a time

// The tables of the model, one entry per mote.
extern std::array<link_t*, VEXNODES> radio_connectivity;  // each sender's outgoing links
extern std::array<int32_t, VEXNODES> radio_active;        // 1-bits arriving at each mote (lossy)
extern std::array<uint8_t, VEXNODES> transmitting;        // the bit each mote is sending
extern std::array<uint16_t, VEXNODES> radio_heard;        // last 16 bits heard (lossy)
extern std::array<bool, VEXNODES> radio_idle_state;       // channel silent long enough (lossy)
extern std::mutex radioConnectivityLock;
extern double noise_prob;                     // chance of a noise bit on an idle channel
constexpr uint16_t IDLE_STATE_MASK = 0xFFFF;  // silent samples that make a channel idle
extern std::string lossyFileName;             // "lossy.nss" unless a name was given

enum class RfmKind : uint8_t { simple, lossy };

// The model in use. Its operations dispatch on the kind with a switch, so
// the per-bit calls are direct calls.
struct rfm_model {
  RfmKind kind = RfmKind::simple;

  void init();
  void transmit(int mote, uint8_t bit);
  void stop_transmit(int mote);
  uint8_t hears(int mote);
  bool connected(int a, int b);
  link_t* neighbors(int mote);
};

// The model the radio uses. Until a model is created it is a simple model
// without links: every simulated mote hears every transmission, but no mote
// has neighbours to wake.
extern rfm_model* rfm;

// Create the model (replacing the tables of any earlier one) and make it the
// one in use. A null file name keeps lossyFileName.
rfm_model* create_simple_model();
rfm_model* create_lossy_model(const char* file_name);

// The driver's entry points: create the model of the given kind
// (VARNIX_RADIO_MODEL_SIMPLE or _LOSSY), and initialise it.
void create_radio_model(uint8_t kind, const char* lossy_file_or_null);
void radio_model_init();

// Sets the bit-error probability of the link from one mote to another,
// creating the link if there is none. Any thread. Ids must be below VEXNODES
// and the probability a number, or nothing changes (an error line says so);
// the probability is kept within 0 to 1, where values beyond act as the bound.
void set_link_prob_value(uint16_t from, uint16_t to, double probability);

// The operations of each model.
void simple_init();
void simple_transmit(int mote, uint8_t bit);
void simple_stops_transmit(int mote);
uint8_t simple_hears(int mote);
bool simple_connected(int a, int b);
link_t* simple_neighbors(int mote);

void lossy_init();
void lossy_transmit(int mote, uint8_t bit);
void lossy_stop_transmit(int mote);
uint8_t lossy_hears(int mote);
bool lossy_connected(int a, int b);
link_t* lossy_neighbors(int mote);

// One entry of a lossy file: a link from sender to receiver.
struct LossyEntry {
  int64_t sender;
  int64_t receiver;
  double probability;
};
// Reads entries until the end of the file or the first character that does
// not fit the format; an entry not ended by white space is not returned.
// Ids too large for 64 bits read as INT64_MAX; a field of more than 127
// characters ends the reading like any other misfit.
std::vector<LossyEntry> read_lossy_entries(std::FILE* file);

inline void rfm_model::transmit(int mote, uint8_t bit) {
  if (kind == RfmKind::simple) {
    simple_transmit(mote, bit);
  } else {
    lossy_transmit(mote, bit);
  }
}
inline void rfm_model::stop_transmit(int mote) {
  if (kind == RfmKind::simple) {
    simple_stops_transmit(mote);
  } else {
    lossy_stop_transmit(mote);
  }
}
inline uint8_t rfm_model::hears(int mote) {
  return kind == RfmKind::simple ? simple_hears(mote) : lossy_hears(mote);
}
inline bool rfm_model::connected(int a, int b) {
  return kind == RfmKind::simple ? simple_connected(a, b) : lossy_connected(a, b);
}
inline link_t* rfm_model::neighbors(int mote) {
  return kind == RfmKind::simple ? simple_neighbors(mote) : lossy_neighbors(mote);
}
inline void rfm_model::init() {
  if (kind == RfmKind::simple) {
    simple_init();
  } else {
    lossy_init();
  }
}
// Under the simple model every mote hears the same air, so one count of the
// 1-bits on it stands for every mote's radio_active entry.
extern int32_t simple_ones_on_air;
// Whether the simple model's one cell has been linked up (simple_init ran):
// then every mote's neighbours are all the other simulated motes.
extern bool simple_cell_linked;
inline uint8_t simple_hears(int) { return simple_ones_on_air > 0 ? 1 : 0; }

// The 1-bits arriving at a mote now, under either model.
inline int32_t ones_arriving_at(int mote) {
  return rfm->kind == RfmKind::simple ? simple_ones_on_air : radio_active[mote];
}
