#include "kernel/exit_hooks.hpp"

#include <algorithm>
#include <array>

namespace {
// A fixed table: the ^C exit must not allocate.
std::array<void (*)(), 8> hooks{};
std::size_t count = 0;
}  // namespace

bool at_run_end(void (*hook)()) {
  if (std::find(hooks.begin(), hooks.begin() + count, hook) != hooks.begin() + count) return true;
  if (count == hooks.size()) return false;
  hooks[count++] = hook;
  return true;
}

void run_end_hooks() {
  // Taken out first, so a hook that ends the run again does not recurse.
  const std::array<void (*)(), 8> due = hooks;
  const std::size_t due_count = count;
  count = 0;
  for (std::size_t i = 0; i < due_count; ++i) due[i]();
}
