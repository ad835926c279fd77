#pragma once
// Power and CPU profiling switches (-p, -cpuprof). The profiles themselves
// are written by the profiling component once it exists; until then the
// switches are only recorded.

void profiling_init(bool power, bool cpu);
bool power_profiling_on();
bool cpu_profiling_on();
void cpu_profiling_checkpoint();  // every 0.2 virtual seconds while CPU profiling
void profiling_stop();            // at the end of a run that reached its limit
