// A long run of 100 motes under a steady stream of random commands and
// queries from control clients. Checks that the simulator keeps answering,
// that its memory stays flat, and that no event is lost: every interrupt
// sent comes back to the watcher exactly once. (Commands that fall on the
// same tick may run in any order, so the echoes are compared as a set.)
//
// BRELO_SOAK_SECONDS sets the length (default 180). The figures (commands
// sent, events received, VmRSS of brelo at the start and end) are printed.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "../control/brelo_process.hpp"
#include "../query/operator_messages.hpp"
#include "control/client/control_client.hpp"

using namespace control_test;
using std::chrono::milliseconds;
using std::chrono::seconds;
using Clock = std::chrono::steady_clock;

namespace {
constexpr int kMotes = 100;

int soak_seconds() {
  const char* text = std::getenv("BRELO_SOAK_SECONDS");
  int value = text != nullptr ? std::atoi(text) : 0;
  return value > 0 ? value : 180;
}

// The end of a long output, for failure messages.
std::string tail(const std::string& text) {
  return text.size() > 3000 ? text.substr(text.size() - 3000) : text;
}

// Resident memory of a process in kB, from /proc/<pid>/status; -1 if unknown.
long resident_kb(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
  }
  return -1;
}

// Reads and acknowledges every event, counting them by type and keeping
// the ids of interrupt echoes.
class Watcher {
 public:
  explicit Watcher(uint16_t port) {
    EXPECT_TRUE(client_.connect(port)) << client_.error().text;
    thread_ = std::thread([this] { run(); });
  }
  ~Watcher() {
    stop_ = true;
    thread_.join();
  }
  std::vector<uint32_t> echoes() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return echoes_;
  }
  std::map<uint16_t, long> counts() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return counts_;
  }
  std::string failure() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return failure_;
  }

 private:
  void run() {
    while (!stop_) {
      std::optional<ctl::Event> event = client_.next(milliseconds(200));
      std::lock_guard<std::mutex> lock(mutex_);
      if (!event) {
        if (client_.error().kind == ctl::ErrorKind::timeout) continue;
        failure_ = client_.error().text;
        return;
      }
      ++counts_[event->header.msgType];
      if (event->header.msgType == ctl::AM_INTERRUPTEVENT) {
        echoes_.push_back(std::get<ctl::InterruptEvent>(event->body).id);
      }
    }
  }

  ctl::EventClient client_;
  std::thread thread_;
  std::atomic<bool> stop_{false};
  mutable std::mutex mutex_;
  std::vector<uint32_t> echoes_;
  std::map<uint16_t, long> counts_;
  std::string failure_;
};

// Random commands of every kind, and random queries through mote 0.
class Commander {
 public:
  Commander(ctl::CommandClient& client, unsigned seed) : client_(client), random_(seed) {}

  int below(int n) { return std::uniform_int_distribution<int>(0, n - 1)(random_); }
  uint16_t mote() { return static_cast<uint16_t>(below(kMotes)); }

  // One random command; false when the simulator did not take it.
  bool any() {
    switch (below(12)) {
      case 0: return below(4) == 0 ? client_.turn_off(mote()) : client_.turn_on(mote());
      case 1: return client_.set_adc_value(mote(), static_cast<uint8_t>(below(8)),
                                           static_cast<uint16_t>(below(1024)));
      case 2: return client_.set_link_probability(mote(), mote(), below(100) / 100.0);
      case 3: {
        constexpr double rates[] = {2.0, 5.0, 10.0, 20.0};
        return client_.set_rate(rates[below(4)]);
      }
      case 4: {
        constexpr int64_t modes[] = {0, 1LL << 31, 1LL << 27, 1};  // none, error, usr1, boot
        return client_.set_dbg(modes[below(4)]);
      }
      case 5: return client_.set_event_mask(static_cast<uint16_t>(below(0x10000) | 0x20));
      case 6: return inspect();
      case 7: return client_.get_mote_count().has_value();
      case 8: {
        std::vector<uint8_t> data(below(97));
        for (uint8_t& b : data) b = static_cast<uint8_t>(below(256));
        VEX_Msg message = ctl::make_message(mote(), static_cast<uint8_t>(below(16)), data);
        return below(2) == 0 ? client_.inject_radio(mote(), message)
                             : client_.inject_uart(mote(), message);
      }
      case 9: return batch();
      case 10: return query();
      default: return stop_query();
    }
  }

  bool interrupt(uint32_t id) { return client_.interrupt(id); }
  int commands() const { return commands_; }

 private:
  bool inspect() {
    constexpr const char* names[] = {"PellundM$open_table", "PellundM$operator_table",
                                     "PellundM$send_pending", "no$such_variable"};
    std::optional<ctl::VariableResolveResponse> found = client_.resolve(mote(), names[below(4)]);
    if (!found) return false;
    if (found->length == ctl::UNKNOWN_VARIABLE_LENGTH) return true;
    return client_.request(found->addr, static_cast<uint8_t>(below(256))).has_value();
  }

  bool batch() {
    if (!client_.begin_batch()) return false;
    int n = 1 + below(5);
    for (int i = 0; i < n; ++i) {
      if (!client_.set_adc_value(mote(), 1, static_cast<uint16_t>(below(1024)))) return false;
      if (!client_.turn_on(mote())) return false;
    }
    return client_.end_batch();
  }

  // A small query on a random mote, sent on mote 0's serial port as a host
  // would: a sensor stream, a local stream, a selection from one to the
  // other, and the start. Open-table indexes are whatever they turn out to be.
  bool query() {
    using namespace query_test;
    uint16_t target = mote();
    auto q = static_cast<uint8_t>(1 + below(20));
    std::vector<OperatorMsg> steps{
        sensor_open(q, static_cast<uint8_t>(1 + below(6)), static_cast<uint32_t>(4000 + below(40000))),
        local_open(q),
        selection(q, static_cast<int8_t>(below(10)), static_cast<int8_t>(below(10)),
                  static_cast<uint8_t>(1 + below(6)), static_cast<uint8_t>(below(4)),
                  static_cast<uint8_t>(below(256))),
        message(q, CODE_START_QUERY),
    };
    for (const OperatorMsg& m : steps) {
      if (!send_operator(target, m)) return false;
    }
    return true;
  }

  bool stop_query() {
    return send_operator(mote(), query_test::message(static_cast<uint8_t>(1 + below(20)),
                                                     protocol::CODE_STOP_QUERY));
  }

  bool send_operator(uint16_t target, const protocol::OperatorMsg& m) {
    std::vector<uint8_t> bytes(sizeof m);
    std::memcpy(bytes.data(), &m, sizeof m);
    ++commands_;
    return client_.inject_uart(0, ctl::make_message(target, AM_OPERATORMSG, bytes));
  }

  ctl::CommandClient& client_;
  std::mt19937 random_;
  int commands_ = 0;
};

TEST(Soak, HundredMotesUnderRandomCommandsAndQueries) {
  const int length = soak_seconds();
  Brelo brelo({"-b=5", "-l=10", std::to_string(kMotes)}, std::string());
  ASSERT_TRUE(brelo.wait_until_listening()) << brelo.process().err();
  const pid_t pid = brelo.process().pid();

  Watcher watcher(brelo.event_port());
  ctl::CommandClient client;
  ASSERT_TRUE(client.connect(brelo.command_port())) << client.error().text;
  Commander commander(client, 13);

  const Clock::time_point start = Clock::now();
  const Clock::time_point end = start + seconds(length);
  // Memory is measured once the motes have booted and the queries have had
  // time to fill their tables and streams.
  const Clock::time_point warm = start + seconds(std::min(30, length / 6));
  long rss_start = -1;
  long rss_peak = 0;
  uint32_t interrupts = 0;
  int sent = 0;
  Clock::time_point next_check = start;
  while (Clock::now() < end) {
    ASSERT_TRUE(commander.any()) << "command " << sent << ": " << client.error().text
                                 << "; brelo: " << brelo.process().state() << "\n"
                                 << tail(brelo.process().err()) << tail(brelo.process().out());
    ++sent;
    if (sent % 10 == 0) {
      ASSERT_TRUE(commander.interrupt(++interrupts)) << client.error().text;
    }
    if (Clock::now() >= next_check) {
      next_check += seconds(1);
      std::optional<ctl::MoteCount> count = client.get_mote_count();
      ASSERT_TRUE(count) << "no answer after " << sent << " commands: " << client.error().text;
      EXPECT_EQ(count->totalMotes, kMotes);
      ASSERT_EQ(watcher.failure(), "");
      long rss = resident_kb(pid);
      if (rss_start < 0 && Clock::now() >= warm) rss_start = rss;
      if (rss_start >= 0) rss_peak = std::max(rss_peak, rss);
    }
    std::this_thread::sleep_for(milliseconds(2));
  }
  const long rss_end = resident_kb(pid);
  std::optional<ctl::MoteCount> last = client.get_mote_count();
  ASSERT_TRUE(last) << client.error().text;

  const Clock::time_point drain_end = Clock::now() + seconds(60);
  while (Clock::now() < drain_end && watcher.echoes().size() < interrupts) {
    std::this_thread::sleep_for(milliseconds(50));
  }
  std::this_thread::sleep_for(milliseconds(500));  // any duplicate would arrive by now
  std::vector<uint32_t> echoes = watcher.echoes();
  std::sort(echoes.begin(), echoes.end());
  ASSERT_EQ(echoes.size(), interrupts) << watcher.failure();
  for (uint32_t i = 0; i < interrupts; ++i) ASSERT_EQ(echoes[i], i + 1) << "echo " << i;
  EXPECT_EQ(watcher.failure(), "");

  std::printf("soak: %d s, %d motes, %.1f virtual s, %d commands (+%d operator messages), "
              "%u interrupts echoed\n",
              length, kMotes, static_cast<double>(last->time) / 4000000.0, sent,
              commander.commands(), interrupts);
  for (const auto& [type, count] : watcher.counts()) {
    std::printf("soak: events of type %u: %ld\n", static_cast<unsigned>(type), count);
  }
  std::printf("soak: brelo VmRSS start %ld kB, end %ld kB, peak %ld kB\n", rss_start, rss_end,
              rss_peak);
  std::fflush(stdout);

  // Flat: no more than a fifth above the warmed-up start (at least 8 MB of
  // slack for allocator noise).
  ASSERT_GT(rss_start, 0);
  EXPECT_LE(rss_end, rss_start + std::max(8192L, rss_start / 5));

  brelo.expect_clean_end();
}
}  // namespace
