// The benchmarks link these stand-ins for the engine's channel and the
// companion starts (null_system.cpp): every call succeeds and does nothing, so
// that a benchmark measures the agent's own work.
#pragma once

namespace omvar::bench {

extern int null_writes;  // messages written to the channel

}  // namespace omvar::bench
