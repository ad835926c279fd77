// The server writes each inspectable variable's image and brelo-ctl reads
// it back by the same protocol layouts: values set in a mote's live state
// must come out of the decoder under their field names.

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "support/world_test.hpp"
#include "control/variable_table.hpp"
#include "ctl/variable_format.hpp"
#include "kernel/timer_m.hpp"
#include "net/net_to_ssm.hpp"
#include "protocol/variables.hpp"
#include "query/pellund_m.hpp"
#include "streams/ss_to_app.hpp"

namespace {
class VariableLayouts : public WorldTest {
 protected:
  // Mote `mote`'s variable as the server encodes it and brelo-ctl decodes it.
  static std::string decoded(int mote, std::string_view name) {
    for (const VariableRow& row : variable_table()) {
      if (name != row.name) continue;
      std::vector<uint8_t> image(row.size, 0);
      row.encode(mote, image.data());
      return brelo_ctl::describe_variable(name, image);
    }
    ADD_FAILURE() << "no variable " << name;
    return "";
  }
  // The decoded line of table entry `entry`.
  static std::string entry_line(int mote, std::string_view name, int entry) {
    std::string text = decoded(mote, name);
    std::string head = "[" + std::to_string(entry) + "]";
    auto at = text.find(head);
    if (at == std::string::npos) return "";
    return text.substr(at, text.find('\n', at) - at);
  }
};

TEST_F(VariableLayouts, EveryTableVariableDecodesOneLinePerEntry) {
  for (const protocol::VariableLayout& v : protocol::variables) {
    if (v.fields.empty()) continue;
    std::string text = decoded(0, v.name);
    int lines = 0;
    for (char c : text) lines += c == '\n';
    EXPECT_EQ(lines, v.entries) << v.name;
  }
}

TEST_F(VariableLayouts, LiveValuesComeBackUnderTheirFieldNames) {
  auto& local = SSToAppM::vars_of(2).local_table[1];
  local.validity = 1;
  local.open_ring(3);
  local.read_requested[1].nbytes = 20;
  local.tail = 2;
  local.num_reads = 1;
  EXPECT_EQ(entry_line(2, "SSToAppM$local_table", 1),
            "[1] validity=1 first=0 last=0 current_cursor=0 buffer_size=3 data_counter=0 "
            "buffer=set buffer_elem_size=set read_requested=[0,20,0,0] tail=2 head=0 num_reads=1");
  local.release();

  auto& sensor = SSToAppM::vars_of(2).sensor_table[2];
  sensor.sensor_tid = 4;
  sensor.stream_rate = 1000;
  sensor.sampling_type = 2;
  sensor.head = 7;
  EXPECT_NE(entry_line(2, "SSToAppM$sensor_table", 2)
                .find("[2] sensor_tid=4 stream_rate=1000 sampling_type=2 first=0"),
            std::string::npos);
  EXPECT_NE(entry_line(2, "SSToAppM$sensor_table", 2).find(" head=7 "), std::string::npos);

  auto& dest = SSToAppM::vars_of(2).dest_remote_table[3];
  dest.symbolic_name = 9;
  dest.channel_id = {-1, 7, -1, -1};
  dest.stream_rate = {0, 300, 0, 0};
  dest.src_counter = 1;
  dest.buffer_size = 5;
  dest.num_reads = 2;
  std::string d = entry_line(2, "SSToAppM$dest_remote_table", 3);
  EXPECT_NE(d.find("symbolic_name=9 channel_id=[-1,7,-1,-1] stream_rate=[0,300,0,0] "
                   "src_validity=0 reliability=0 src_counter=1"),
            std::string::npos)
      << d;
  EXPECT_NE(d.find("buffer_size=5"), std::string::npos) << d;
  EXPECT_NE(d.find("num_reads=2"), std::string::npos) << d;

  auto& source = SSToAppM::vars_of(2).src_remote_table[0];
  source.channel_id = -1;
  source.symbolic_name = 6;
  source.buffer_size = 4;
  EXPECT_EQ(entry_line(2, "SSToAppM$src_remote_table", 0),
            "[0] channel_id=-1 symbolic_name=6 current_cursor=0 buffer_size=4 buffer=null");

  auto& channel = NetToSSM::vars_of(2).channel_table[2];
  channel.channel_id = 513;
  channel.dest = 42;
  channel.validity = 1;
  EXPECT_EQ(entry_line(2, "NetToSSM$channel_table", 2), "[2] channel_id=513 dest=42 validity=1");

  TimerM::vars_of(2).mTimerList[5] = {1, 1024, -3};
  EXPECT_EQ(entry_line(2, "TimerM$mTimerList", 5), "[5] type=1 ticks=1024 ticksLeft=-3");

  auto& open = PellundM::vars_of(2).open_table[4];
  open.query_id = 3;
  open.stream_desc = {SSDT_ID, 1};
  open.start_time = {0, 77};
  open.dest = 500;
  open.validity = 1;
  EXPECT_NE(entry_line(2, "PellundM$open_table", 4)
                .find("[4] query_id=3 table_id=3 no=1 symbolic_name=0 stream_rate=0 start_time=77"),
            std::string::npos);
  EXPECT_NE(entry_line(2, "PellundM$open_table", 4).find("dest=500"), std::string::npos);
}
}  // namespace
