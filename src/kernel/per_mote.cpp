#include "kernel/per_mote.hpp"

#include <algorithm>
#include <vector>

namespace {
std::vector<PerMoteBase*>& registry() {
  static std::vector<PerMoteBase*> all;
  return all;
}
}  // namespace

PerMoteBase::PerMoteBase() { registry().push_back(this); }

PerMoteBase::~PerMoteBase() {
  auto& all = registry();
  all.erase(std::remove(all.begin(), all.end(), this), all.end());
}

void __quil_brelo_initialise(int mote) {
  if (mote < 0 || mote >= VEXNODES) return;
  for (PerMoteBase* component : registry()) component->reset(mote);
}
