#include "support/call_at.hpp"

#include <utility>

#include "kernel/event.hpp"
#include "kernel/schedule.hpp"

namespace support {
namespace {
struct CallEvent final : event_t {
  explicit CallEvent(std::function<void()> f) : call(std::move(f)) {}
  std::function<void()> call;
  void handle(EventPtr self, VEX_state_t&) override {
    call();
    event_cleanup(std::move(self));
  }
};
}  // namespace

void call_at(vex_time_t time, int mote, std::function<void()> call) {
  sim::schedule(sim::make_event<CallEvent>(mote, time, std::move(call)));
}

}  // namespace support
