// What this process may use of the machine: processors and memory, as the scheduler, the cgroup
// and the resource limits allow (a SLURM job with 4 CPUs on a 64-core node gets 4).
#pragma once

#include <cstdint>

namespace varpair {

// Physical memory of this machine in bytes (1 GiB when the system cannot tell).
std::uint64_t physical_memory_bytes();

// The most memory this process may hold: physical memory, the cgroup's memory limit and the
// address-space limit (RLIMIT_AS), whichever is least.
std::uint64_t memory_limit_bytes();

// What is left of that limit now: less the cgroup's current usage and this process's address space.
std::uint64_t memory_available_bytes();

// Processors this process may run on: its CPU affinity, and no more than the cgroup's CPU quota
// allows (rounded up); at least 1.
unsigned usable_cpus();

}  // namespace varpair
