// -fast skips the channel samples of monitors that hear silence. Whole runs
// with and without it must print the same lines and send the same events:
// a run where queries travel by radio and motes contend for the channel
// (equal up to the order of events sharing a tick), idle networks and a
// lossy run, where fast mode keeps exact sampling (equal byte for byte).

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "scenario.hpp"

namespace golden {
namespace {

// No radio or simmem lines: fast mode samples exactly while they are on.
constexpr const char* kDbg = "boot,am,usr1,led,crc,clock,sched";

std::vector<std::string> split_lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

void expect_same(const Transcript& exact, const Transcript& fast) {
  ASSERT_TRUE(exact.ok) << exact.failure;
  ASSERT_TRUE(fast.ok) << fast.failure;
  ASSERT_GT(exact.out.size(), 1000u) << "the run printed too little to compare";
  EXPECT_TRUE(exact.text() == fast.text())
      << "exact and fast runs differ; sizes " << exact.text().size() << " and "
      << fast.text().size();
}

// Events that share a tick may run in another order in fast mode (the heap
// holds other events, so its ties fall differently), and lines of different
// motes printed on one tick may then swap. Everything else must be equal:
// the same lines, and each mote's events to the watcher, with their times
// and bytes, in the same order.
void expect_same_up_to_tick_order(const Transcript& exact, const Transcript& fast) {
  ASSERT_TRUE(exact.ok) << exact.failure;
  ASSERT_TRUE(fast.ok) << fast.failure;
  std::vector<std::string> exact_lines = split_lines(exact.out);
  std::vector<std::string> fast_lines = split_lines(fast.out);
  std::sort(exact_lines.begin(), exact_lines.end());
  std::sort(fast_lines.begin(), fast_lines.end());
  EXPECT_TRUE(exact_lines == fast_lines) << "the runs printed different lines";

  auto events_by_mote = [](const std::string& events) {
    std::map<std::string, std::vector<std::string>> by_mote;
    for (const std::string& line : split_lines(events)) {
      std::size_t mote = line.find(" mote ");
      std::size_t end = line.find(' ', mote + 6);
      by_mote[line.substr(mote + 6, end - mote - 6)].push_back(line);
    }
    return by_mote;
  };
  EXPECT_TRUE(events_by_mote(exact.events) == events_by_mote(fast.events))
      << "a mote's events differ";
}

TEST(FastMode, QueriesOverTheRadioGiveTheSameRunAsTheExactMode) {
  Transcript exact = run_query_scenario({}, kDbg);
  Transcript fast = run_query_scenario({"-fast"}, kDbg);
  expect_same_up_to_tick_order(exact, fast);
  // The run did use the radio: records of motes 1 and 2 reached the host.
  EXPECT_NE(exact.events.find("type 4 mote 0"), std::string::npos);
  EXPECT_NE(exact.out.find("1: S E L E C T _ C"), std::string::npos);
}

TEST(FastMode, IdleNetworksGiveTheSameRunAsTheExactMode) {
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"-b=0", "-seed=3", "-t=4", "-l=100000", "40"},
        std::vector<std::string>{"-b=2", "-seed=8", "-t=5", "-l=100000", "-s=7", "12"}}) {
    Transcript exact = run_plain(args, kDbg);
    std::vector<std::string> fast_args{"-fast"};
    fast_args.insert(fast_args.end(), args.begin(), args.end());
    Transcript fast = run_plain(fast_args, kDbg);
    expect_same(exact, fast);
  }
}

TEST(FastMode, LossyModelKeepsExactSampling) {
  // The lossy model draws noise for idle samples from the shared random
  // generator; with -fast those draws must all still happen, in order.
  const std::vector<std::string> args{"-r=lossy", "-rf=/nonexistent", "-b=0", "-seed=5",
                                      "-t=3", "-l=100000", "6"};
  Transcript exact = run_plain(args, kDbg);
  std::vector<std::string> fast_args{"-fast"};
  fast_args.insert(fast_args.end(), args.begin(), args.end());
  expect_same(exact, run_plain(fast_args, kDbg));
}

}  // namespace
}  // namespace golden
