// The floor for push latency: the smallest program that does what the
// daemon does on that path. One process, one thread: it polls each
// pseudo-terminal with "C" CR every period, reads the replies, and sends
// each bearing to its TCP peer as a direction line the moment the line end
// arrives. Its socket is set up as the daemon's is (no TCP_NODELAY), so the
// difference between the daemon's latency and this one's is what the
// daemon's own structure costs.
//
// zeva-bench runs it as a separate process: zeva-bench --relay PORT
// PERIOD_MS DEVICE...
#pragma once

namespace bench {

int RunRelay(int argc, char** argv);  // argv[0] is "--relay"

}  // namespace bench
