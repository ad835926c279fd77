// A page's queue of events: in order while the page keeps up; once it falls
// behind, each mote's latest LEDs and every result survive, surplus radio
// and debug events are dropped and counted.

#include <gtest/gtest.h>

#include <regex>

#include "view/display_events.hpp"
#include "view/display_queue.hpp"

namespace brelo_view {
namespace {
using std::chrono::milliseconds;

DisplayEvent event(DisplayKind kind, int mote, const std::string& text) {
  return {kind, mote, text + "\n"};
}

int count_of(const std::string& text, const std::string& part) {
  int n = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

TEST(DisplayQueue, KeepsEveryEventInOrderWhileThePageKeepsUp) {
  DisplayQueue queue(4);
  queue.push(event(DisplayKind::led, 1, "led1-on"));
  queue.push(event(DisplayKind::radio, 1, "radio1"));
  queue.push(event(DisplayKind::led, 1, "led1-off"));
  EXPECT_EQ(queue.take(milliseconds(0)), "led1-on\nradio1\nled1-off\n");
  EXPECT_EQ(queue.take(milliseconds(0)), "");  // nothing new: an empty batch
  queue.close();
  EXPECT_EQ(queue.take(milliseconds(1000)), std::nullopt);  // closed at once, no wait
}

TEST(DisplayQueue, APageBehindGetsTheLatestLedsAndEveryResultAndHearsWhatWasDropped) {
  DisplayQueue queue(4);
  for (int i = 0; i < 4; ++i) queue.push(event(DisplayKind::debug, 0, "debug" + std::to_string(i)));
  // Full from here on.
  queue.push(event(DisplayKind::led, 2, "led2-a"));
  queue.push(event(DisplayKind::led, 3, "led3-a"));
  queue.push(event(DisplayKind::led, 2, "led2-b"));
  queue.push(event(DisplayKind::radio, 1, "radio-dropped"));
  queue.push(event(DisplayKind::debug, 1, "debug-dropped"));
  queue.push(event(DisplayKind::result, 1, "result1"));
  queue.push(event(DisplayKind::clock, -1, "clock-a"));
  queue.push(event(DisplayKind::clock, -1, "clock-b"));
  EXPECT_EQ(queue.dropped(), 2);
  std::string batch = *queue.take(milliseconds(0));
  EXPECT_EQ(batch,
            "event: coalesced\ndata: {\"dropped\":2}\n\n"
            "debug0\ndebug1\ndebug2\ndebug3\nled2-b\nled3-a\nresult1\nclock-b\n");
  // The count starts again with the next batch.
  queue.push(event(DisplayKind::radio, 1, "radio-kept"));
  EXPECT_EQ(queue.take(milliseconds(0)), "radio-kept\n");
}

TEST(DisplayQueue, StaysBoundedWhateverArrives) {
  DisplayQueue queue(8);
  for (int i = 0; i < 10000; ++i) {
    queue.push(event(DisplayKind::led, i % 3, "led"));
    queue.push(event(DisplayKind::debug, i % 3, "debug"));
    queue.push(event(DisplayKind::result, i % 3, "result"));
  }
  std::string batch = *queue.take(milliseconds(0));
  // Results up to four times the capacity, one LED per mote beyond it.
  EXPECT_LE(count_of(batch, "result\n"), 32);
  EXPECT_LE(count_of(batch, "led\n"), 8 + 3);
  EXPECT_EQ(count_of(batch, "event: coalesced"), 1);
}

TEST(DisplayEvents, DebugLinesAreNamedByTheirModeWhereTheirTextTellsIt) {
  EXPECT_EQ(debug_mode_of("BOOT: Mote booting at time 0:0:2.98140300."), "boot");
  EXPECT_EQ(debug_mode_of("LEDS: initialized."), "led");
  EXPECT_EQ(debug_mode_of("S E N D"), "other");
  EXPECT_EQ(debug_mode_of("ALL: nothing"), "other");
  // Quotes and control characters in a line reach the page as valid JSON.
  ctl::Event line;
  line.header.moteID = 3;
  line.header.time = 6000000;
  line.body = ctl::DebugMessage{"say \"hi\"\t\n"};
  std::optional<DisplayEvent> shown = display_event(line);
  ASSERT_TRUE(shown);
  EXPECT_EQ(shown->text,
            "event: debug\ndata: {\"time\":1.500000,\"mote\":3,\"mode\":\"other\","
            "\"text\":\"say \\\"hi\\\"\\t\"}\n\n");
}

}  // namespace
}  // namespace brelo_view
