#pragma once
// A loopback TCP port that nobody listens on right now: for servers to start on, or for
// connections that must be refused.

namespace qm::test {

int UnusedLoopbackPort();

}  // namespace qm::test
