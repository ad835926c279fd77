#include "radio/connectivity.hpp"

#include <cmath>
#include <cstdlib>
#include <memory>

#include "kernel/dbg.hpp"
#include "kernel/vex_state.hpp"
#include "kernel/world.hpp"
#include "radio/bulk_receive.hpp"
#include "radio/channel_mon_c.hpp"

std::array<link_t*, VEXNODES> radio_connectivity{};
std::array<int32_t, VEXNODES> radio_active{};
std::array<uint8_t, VEXNODES> transmitting{};
std::array<uint16_t, VEXNODES> radio_heard{};
std::array<bool, VEXNODES> radio_idle_state{};
int32_t simple_ones_on_air = 0;
bool simple_cell_linked = false;
std::mutex radioConnectivityLock;
double noise_prob = 0.0;
std::string lossyFileName = "lossy.nss";

namespace {
rfm_model model;

// Link storage: blocks of LINK_BLOCK_SIZE links, handed out from a free list
// and never returned, so a link's address stays valid for the whole run.
std::vector<std::unique_ptr<link_t[]>> link_blocks;
link_t* free_list = nullptr;
int num_free_links = 0;

void add_link_block() {
  link_blocks.push_back(std::make_unique<link_t[]>(LINK_BLOCK_SIZE));
  link_t* block = link_blocks.back().get();
  for (int i = 0; i < LINK_BLOCK_SIZE; ++i) {
    block[i].next_link = free_list;
    free_list = &block[i];
  }
  num_free_links += LINK_BLOCK_SIZE;
}

void adjacency_list_init() {
  if (num_free_links == 0) add_link_block();
}

// Callers hold radioConnectivityLock once the control ports are open.
link_t* allocate_link(int mote) {
  if (num_free_links == 0) add_link_block();
  link_t* link = free_list;
  free_list = link->next_link;
  --num_free_links;
  link->mote = mote;
  link->data = 0.0;
  link->bit = 0;
  link->next_link = nullptr;
  return link;
}

void push_link(int from, int to, double probability) {
  link_t* link = allocate_link(to);
  link->data = probability;
  link->next_link = radio_connectivity[from];
  radio_connectivity[from] = link;
}

// Every simulated mote linked to every other one with a perfect link.
void static_one_cell_init() {
  std::lock_guard<std::mutex> guard(radioConnectivityLock);
  const int motes = vex_state.num_nodes;
  for (int i = 0; i < motes; ++i) {
    for (int j = 0; j < motes; ++j) {
      if (i != j) push_link(i, j, 0.0);
    }
  }
}

// Drops every link and clears every table: the state of a model just created.
void reset_tables() {
  std::lock_guard<std::mutex> guard(radioConnectivityLock);
  radio_connectivity.fill(nullptr);
  radio_active.fill(0);
  transmitting.fill(0);
  radio_heard.fill(0);
  radio_idle_state.fill(false);
  simple_ones_on_air = 0;
  simple_cell_linked = false;
  link_blocks.clear();
  free_list = nullptr;
  num_free_links = 0;
  if (BulkReceive::enabled()) BulkReceive::air_cleared();
}

// A new world has the simple model, with no links and no noise, until the
// driver creates one.
const WorldReset restore_model{[] {
  {
    std::lock_guard<std::mutex> guard(radioConnectivityLock);
    restore_table(radio_connectivity);
    restore_table(radio_active);
    restore_table(transmitting);
    restore_table(radio_heard);
    restore_table(radio_idle_state);
    simple_ones_on_air = 0;
    simple_cell_linked = false;
    link_blocks.clear();
    free_list = nullptr;
    num_free_links = 0;
  }
  model.kind = RfmKind::simple;
  noise_prob = 0.0;
  lossyFileName = "lossy.nss";
}};

double draw_probability() { return (std::rand() % 100000) / 100000.0; }

double within_0_and_1(double probability) {
  return probability < 0.0 ? 0.0 : probability > 1.0 ? 1.0 : probability;
}

bool is_space(int c) { return c == ' ' || c == '\t' || c == '\n'; }
bool is_digit(int c) { return c >= '0' && c <= '9'; }
bool is_probability_char(int c) {
  return is_digit(c) || c == '.' || c == '-' || c == 'E' || c == 'e';
}

// Collects characters while `fits` holds into a 128-byte field. Returns
// false when the field would be longer than 127 characters.
template <typename Fits>
bool collect(std::FILE* file, int& c, std::string& field, Fits fits) {
  field.clear();
  while (fits(c)) {
    if (field.size() == 127) return false;
    field.push_back(static_cast<char>(c));
    c = std::fgetc(file);
  }
  return true;
}

int64_t id_value(const std::string& digits) {
  int64_t value = 0;
  for (char d : digits) {
    if (value > (INT64_MAX - 9) / 10) return INT64_MAX;
    value = value * 10 + (d - '0');
  }
  return value;
}

bool valid_id(int64_t id) { return id >= 0 && id < VEXNODES; }
}  // namespace

rfm_model* rfm = &model;

std::vector<LossyEntry> read_lossy_entries(std::FILE* file) {
  std::vector<LossyEntry> entries;
  std::string field;
  int c = std::fgetc(file);
  for (;;) {
    while (is_space(c)) c = std::fgetc(file);
    if (c == EOF) break;

    if (!collect(file, c, field, is_digit) || field.empty() || c != ':') break;
    int64_t sender = id_value(field);
    c = std::fgetc(file);

    if (!collect(file, c, field, is_digit)) break;
    bool ended_by_colon = c == ':';
    if (!ended_by_colon && !(is_space(c) && !field.empty())) break;
    int64_t receiver = id_value(field);  // an empty id before ':' reads as 0
    c = std::fgetc(file);

    if (!collect(file, c, field, is_probability_char) || field.empty() || !is_space(c)) break;
    double probability = std::strtod(field.c_str(), nullptr);
    entries.push_back({sender, receiver, probability});
    c = std::fgetc(file);
  }
  return entries;
}

rfm_model* create_simple_model() {
  reset_tables();
  model.kind = RfmKind::simple;
  return rfm;
}

rfm_model* create_lossy_model(const char* file_name) {
  reset_tables();
  if (file_name != nullptr) lossyFileName = file_name;
  model.kind = RfmKind::lossy;
  return rfm;
}

void create_radio_model(uint8_t kind, const char* lossy_file_or_null) {
  if (kind == VARNIX_RADIO_MODEL_LOSSY) {
    create_lossy_model(lossy_file_or_null);
  } else {
    create_simple_model();
  }
}

void radio_model_init() { rfm->init(); }

void simple_init() {
  adjacency_list_init();
  static_one_cell_init();
  simple_cell_linked = true;
  simple_ones_on_air = 0;
  if (BulkReceive::enabled()) BulkReceive::air_cleared();
}

void simple_transmit(int mote, uint8_t bit) {
  transmitting[mote] = bit;
  simple_ones_on_air += bit;
  if (bit == 0) return;
  if (BulkReceive::enabled()) BulkReceive::air_changed(mote, true, simple_ones_on_air > 0);
  // Every mote hears this bit: monitors asleep on a silent channel wake.
  ChannelMonSleep::wake_sleeping_monitors();
}

void simple_stops_transmit(int mote) {
  if (transmitting[mote] == 0) return;
  transmitting[mote] = 0;
  simple_ones_on_air -= 1;
  if (BulkReceive::enabled()) BulkReceive::air_changed(mote, false, simple_ones_on_air > 0);
}

bool simple_connected(int, int) { return true; }

link_t* simple_neighbors(int mote) {
  std::lock_guard<std::mutex> guard(radioConnectivityLock);
  return radio_connectivity[mote];
}

void lossy_init() {
  std::FILE* file = std::fopen(lossyFileName.c_str(), "r");
  dbg_clear(DBG_SIM, "Initializing lossy model from %s.\n", lossyFileName.c_str());
  adjacency_list_init();
  if (file == nullptr) {
    dbg(DBG_SIM, "Cannot open %s - assuming single radio cell\n", lossyFileName.c_str());
    static_one_cell_init();
    return;
  }
  {
    std::lock_guard<std::mutex> guard(radioConnectivityLock);
    radio_connectivity.fill(nullptr);
    radio_idle_state.fill(false);
    radio_heard.fill(0);
  }
  std::vector<LossyEntry> entries = read_lossy_entries(file);
  std::fclose(file);
  {
    std::lock_guard<std::mutex> guard(radioConnectivityLock);
    for (const LossyEntry& entry : entries) {
      if (entry.sender == entry.receiver) continue;
      // The tables have VEXNODES entries: a link naming a mote beyond them
      // would write outside them, so it is left out. Links to or from motes
      // that exist in the tables but not in this run are kept: they do no
      // harm, and they keep the draws of the random generator those of the file.
      if (!valid_id(entry.sender) || !valid_id(entry.receiver)) {
        dbg(DBG_ERROR, "RFM: Ignoring link %lld->%lld in %s: mote ids must be below %d.\n",
            static_cast<long long>(entry.sender), static_cast<long long>(entry.receiver),
            lossyFileName.c_str(), VEXNODES);
        continue;
      }
      push_link(static_cast<int>(entry.sender), static_cast<int>(entry.receiver),
                within_0_and_1(entry.probability));
    }
  }
  dbg(DBG_BOOT, "RFM connectivity graph constructed.\n");
}

void lossy_transmit(int mote, uint8_t bit) {
  std::lock_guard<std::mutex> guard(radioConnectivityLock);
  transmitting[mote] = bit;
  for (link_t* link = radio_connectivity[mote]; link != nullptr; link = link->next_link) {
    double r = draw_probability();
    uint8_t contribution = link->data > r ? static_cast<uint8_t>(bit ^ 1) : bit;
    radio_active[link->mote] += contribution;
    radio_idle_state[link->mote] = false;
    link->bit = contribution;
  }
}

void lossy_stop_transmit(int mote) {
  std::lock_guard<std::mutex> guard(radioConnectivityLock);
  transmitting[mote] = 0;
  for (link_t* link = radio_connectivity[mote]; link != nullptr; link = link->next_link) {
    radio_active[link->mote] -= link->bit;
    link->bit = 0;
  }
}

uint8_t lossy_hears(int mote) {
  uint8_t heard = radio_active[mote] > 0 ? 1 : 0;
  if (radio_idle_state[mote]) {
    double r = draw_probability();
    if (noise_prob > r) heard ^= 1;
  } else {
    radio_heard[mote] = static_cast<uint16_t>((radio_heard[mote] << 1) | heard);
    if ((radio_heard[mote] & IDLE_STATE_MASK) == 0) radio_idle_state[mote] = true;
  }
  return heard;
}

bool lossy_connected(int a, int b) {
  std::lock_guard<std::mutex> guard(radioConnectivityLock);
  dbg(DBG_TEMP, "connections for %i\n", a);
  for (link_t* link = radio_connectivity[a]; link != nullptr; link = link->next_link) {
    if (link->mote == b && link->data < 1.0) {
      dbg(DBG_TEMP, "connected to %i\n", b);
      return true;
    }
  }
  return false;
}

link_t* lossy_neighbors(int mote) {
  std::lock_guard<std::mutex> guard(radioConnectivityLock);
  return radio_connectivity[mote];
}

void set_link_prob_value(uint16_t from, uint16_t to, double probability) {
  if (from >= VEXNODES || to >= VEXNODES) {
    dbg(DBG_ERROR, "RFM: Cannot set loss prob %d->%d: mote ids must be below %d.\n", from, to,
        VEXNODES);
    return;
  }
  if (std::isnan(probability)) {
    dbg(DBG_ERROR, "RFM: Cannot set loss prob %d->%d: not a number.\n", from, to);
    return;
  }
  probability = within_0_and_1(probability);
  std::lock_guard<std::mutex> guard(radioConnectivityLock);
  dbg(DBG_SIM, "RFM: KRT: Setting loss prob %d->%d to %0.3f\n", from, to, probability);
  for (link_t* link = radio_connectivity[from]; link != nullptr; link = link->next_link) {
    if (link->mote == to) {
      link->data = probability;
      return;
    }
  }
  push_link(from, to, probability);
}
