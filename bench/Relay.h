// The floor for push latency: the smallest program that does what the
// daemon does on that path. One process, one thread: it polls each
// pseudo-terminal with "C" CR every period, reads the replies, and sends
// each bearing to its TCP peer as a direction line the moment the line end
// arrives. Its socket is set up as the daemon's is (TCP_NODELAY), so the
// difference between the daemon's latency and this one's is what the
// daemon's own structure costs.
//
// zeva-bench runs it as a separate process: zeva-bench --relay PORT
// PERIOD_MS DEVICE...
//
// The floor for command latency is the same for the other direction: one
// thread reads the lines its TCP peer sends and, at each carriage return,
// writes the set-position command for the line's last number ("ROTATE 1 90"
// becomes "M090" CR) to the device: zeva-bench --command-relay PORT DEVICE
#pragma once

namespace bench {

int RunRelay(int argc, char** argv);         // argv[0] is "--relay"
int RunCommandRelay(int argc, char** argv);  // argv[0] is "--command-relay"

}  // namespace bench
