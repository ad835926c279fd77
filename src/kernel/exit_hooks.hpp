#pragma once
// Work that must be done however a run ends, at its time limit or on ^C:
// files the run writes as it goes (a packet trace, say) are completed and
// flushed. The ^C exit skips static destructors, so such files register
// here rather than relying on them. Simulation thread only.

// Registers `hook` to run once when the run ends; a hook registered twice
// runs once. At most a few hooks are kept (a full list refuses, returning
// false).
bool at_run_end(void (*hook)());

// Runs the registered hooks in the order they were registered and forgets
// them, so a second call does nothing.
void run_end_hooks();
