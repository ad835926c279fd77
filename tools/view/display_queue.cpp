#include "view/display_queue.hpp"

namespace brelo_view {

// A waiting event of the same kind and mote takes the new one's text in
// place; false when there is none.
bool DisplayQueue::replace_waiting(const DisplayEvent& event) {
  for (auto i = waiting_.rbegin(); i != waiting_.rend(); ++i) {
    if (i->kind == event.kind && i->mote == event.mote) {
      i->text = event.text;
      return true;
    }
  }
  return false;
}

void DisplayQueue::push(DisplayEvent event) {
  {
    std::lock_guard lock(mutex_);
    if (closed_) return;
    if (waiting_.size() >= capacity_) {
      switch (event.kind) {
        case DisplayKind::led:
        case DisplayKind::clock:
          // At most one waiting per mote (per queue for the clock) beyond
          // the capacity, so the queue stays bounded.
          if (replace_waiting(event)) return;
          break;
        case DisplayKind::result:
        case DisplayKind::power:
          if (waiting_.size() < 4 * capacity_) break;
          ++dropped_;
          return;
        default:
          ++dropped_;
          return;
      }
    }
    waiting_.push_back(std::move(event));
  }
  ready_.notify_one();
}

std::optional<std::string> DisplayQueue::take(std::chrono::milliseconds wait) {
  std::unique_lock lock(mutex_);
  ready_.wait_for(lock, wait, [this] { return closed_ || !waiting_.empty(); });
  if (closed_) return std::nullopt;
  std::string batch;
  if (dropped_ > 0) {
    batch = "event: coalesced\ndata: {\"dropped\":" + std::to_string(dropped_) + "}\n\n";
    dropped_ = 0;
  }
  for (const DisplayEvent& event : waiting_) batch += event.text;
  waiting_.clear();
  return batch;
}

void DisplayQueue::close() {
  {
    std::lock_guard lock(mutex_);
    closed_ = true;
  }
  ready_.notify_all();
}

int64_t DisplayQueue::dropped() const {
  std::lock_guard lock(mutex_);
  return dropped_;
}

}  // namespace brelo_view
