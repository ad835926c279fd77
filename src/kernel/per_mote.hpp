#pragma once
// Per-mote component state. Every component keeps its variables in one
// struct and declares one PerMote<ThatStruct>: an independent copy for each
// of the VEXNODES motes. Component code reaches the running mote's copy with
// state() and never saves or restores anything when the mote changes.
//
// Each PerMote registers itself, so resetting a mote (__quil_brelo_initialise)
// value-initialises that mote's copy of every component: owned memory is
// released by the members' destructors, never leaked.

#include <array>

#include "kernel/vex_state.hpp"
#include "kernel/vex_types.hpp"

class PerMoteBase {
 public:
  PerMoteBase();
  PerMoteBase(const PerMoteBase&) = delete;
  PerMoteBase& operator=(const PerMoteBase&) = delete;
  virtual void reset(int mote) = 0;

 protected:
  ~PerMoteBase();
};

template <typename T>
class PerMote final : public PerMoteBase {
 public:
  T& operator()() { return copies_[vex_state.current_node.load()]; }
  T& of(int mote) { return copies_[mote]; }
  void reset(int mote) override { copies_[mote] = T{}; }

 private:
  std::array<T, VEXNODES> copies_{};
};

// Zeroes every component variable of one mote.
void __quil_brelo_initialise(int mote);
