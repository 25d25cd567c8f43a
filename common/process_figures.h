#pragma once

#include <vector>

// Figures the benchmarks and the start-up measurement print about this
// process: processor time, resident memory, and percentiles of samples.
double ProcessCpuMs();
double ThreadCpuMs();
// Milliseconds since this process started, from the kernel's record of its
// start (clock ticks since boot, usually 10 ms each); -1 when unknown.
double MsSinceProcessStart();
// Resident memory in KiB; -1 when the system does not say.
long ResidentKb();
// The nearest-rank percentile `p` (0..1) of `samples`; 0 when there are none.
double Percentile(std::vector<double> samples, double p);
