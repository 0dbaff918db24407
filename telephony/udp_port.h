// The engine's hold on its UDP ports: whether a port is free machine-wide
// (whatever reuse options its holders set), and keeping the engine's sockets
// out of child processes, which would otherwise hold the ports after the
// program ends.
#pragma once

namespace velkor::tel {

// True when no socket on the machine is bound to UDP port, on any address.
// A bind without address reuse is refused by every binding of the port,
// including those made with SO_REUSEADDR or SO_REUSEPORT.
bool udpPortFree(int port);

// The number of UDP sockets (IPv4 and IPv6) on the machine bound to port,
// from /proc/net; -1 when it cannot be read.
int udpSocketsOnPort(int port);

// Marks every UDP socket of this process close-on-exec. The SIP stack and
// the media streams open theirs without the flag.
void closeUdpSocketsOnExec();

} // namespace velkor::tel
