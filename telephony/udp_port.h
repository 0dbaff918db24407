// The engine's hold on its UDP ports: whether a port is free machine-wide
// (whatever reuse options its holders set), finding the engine's own socket
// of a port, and keeping the engine's sockets out of child processes, which
// would otherwise hold the ports after the program ends.
#pragma once

namespace velkor::tel {

// True when no socket on the machine is bound to UDP port, on any address.
// A bind without address reuse is refused by every binding of the port,
// including those made with SO_REUSEADDR or SO_REUSEPORT.
bool udpPortFree(int port);

// The number of UDP sockets (IPv4 and IPv6) on the machine bound to port,
// from /proc/net; -1 when it cannot be read.
int udpSocketsOnPort(int port);

// The descriptor of this process's UDP socket bound to port, or -1. It is
// found through /proc (the socket's inode), with no call on any descriptor:
// other threads own most of them and may close or reuse them meanwhile.
int findUdpSocket(int port);

// Marks the descriptor close-on-exec (nothing for -1). The SIP stack and the
// media streams open their sockets without the flag.
void setCloseOnExec(int fd);

} // namespace velkor::tel
