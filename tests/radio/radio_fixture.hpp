#pragma once
// Motes with the whole component graph wired, over a fresh connectivity
// model, driven by the real main loop at an unbounded rate.

#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <unistd.h>

#include <string>
#include <utility>
#include <vector>

#include "support/call_at.hpp"
#include "support/output.hpp"
#include "support/run.hpp"
#include "support/world_test.hpp"
#include "app/wiring.hpp"
#include "kernel/driver.hpp"
#include "kernel/pacing.hpp"
#include "net/am_promiscuous.hpp"
#include "radio/connectivity.hpp"
#include "radio/orla_high_speed_radio_m.hpp"

using support::count_of;
using support::output_of;

class RadioTest : public WorldTest {
 protected:
  static constexpr uint8_t kTestType = 42;  // a message type of the tests' own

  struct Delivery {
    int mote;
    VEX_Msg msg;
  };
  struct Completion {
    int mote;
    VEX_MsgPtr msg;
    result_t success;
    uint8_t ack;
  };
  static inline std::vector<Delivery> delivered;
  static inline std::vector<Completion> completed;

  static VEX_MsgPtr record_delivery(VEX_MsgPtr msg) {
    delivered.push_back({vex_state.current_node.load(), *msg});
    return msg;
  }
  static result_t record_completion(VEX_MsgPtr msg, result_t success) {
    completed.push_back({vex_state.current_node.load(), msg, success, msg->ack});
    return SUCCESS;
  }

  void SetUp() override {
    WorldTest::SetUp();
    std::srand(1);
    noise_prob = 0.0;
    lossyFileName = "lossy.nss";
    delivered.clear();
    completed.clear();
    wire_components();
    AMPromiscuous::set_receive_handler(kTestType, record_delivery);
    AMPromiscuous::set_send_done_handler(kTestType, record_completion);
  }
  void TearDown() override {
    AMPromiscuous::set_receive_handler(kTestType, nullptr);
    AMPromiscuous::set_send_done_handler(kTestType, nullptr);
    create_simple_model();
    WorldTest::TearDown();
  }

  // Creates the model for `motes` motes and boots them all at the current time.
  static void boot_simple(int motes) {
    vex_state.num_nodes = static_cast<int16_t>(motes);
    create_simple_model();
    radio_model_init();
    for (int m = 0; m < motes; ++m) brelo_start_mote(static_cast<uint16_t>(m));
  }
  static void boot_lossy(int motes, const std::string& file_text) {
    vex_state.num_nodes = static_cast<int16_t>(motes);
    // One file per process: ctest runs these tests side by side.
    std::string path =
        ::testing::TempDir() + "radio_test_lossy_" + std::to_string(::getpid()) + ".nss";
    std::FILE* file = std::fopen(path.c_str(), "w");
    std::fputs(file_text.c_str(), file);
    std::fclose(file);
    create_lossy_model(path.c_str());
    radio_model_init();
    for (int m = 0; m < motes; ++m) brelo_start_mote(static_cast<uint16_t>(m));
  }

  static void at(vex_time_t time, int mote, std::function<void()> call) {
    support::call_at(time, mote, std::move(call));
  }

  // Sends `msg` from `mote` through the active-message layer at `time`.
  static void send_at(vex_time_t time, int mote, uint16_t addr, uint8_t length, VEX_Msg& msg) {
    at(time, mote, [=, &msg] {
      EXPECT_EQ(AMPromiscuous::SendMsg_send(kTestType, addr, length, &msg), SUCCESS);
    });
  }

  static void run_until(vex_time_t stop_time) {
    support::unpaced();
    support::run_loop_until(stop_time);
  }

  static VEX_Msg payload(uint8_t first, uint8_t length) {
    VEX_Msg msg{};
    for (int i = 0; i < length; ++i) msg.data[i] = static_cast<int8_t>(first + 7 * i);
    return msg;
  }
};
