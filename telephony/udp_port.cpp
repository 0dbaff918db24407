#include "telephony/udp_port.h"

#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace velkor::tel {

bool udpPortFree(int port)
{
    const int s = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (s < 0)
        return false;
    sockaddr_in a {};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_ANY);
    a.sin_port = htons(static_cast<uint16_t>(port));
    const bool free = bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    close(s);
    return free;
}

namespace {

// Sockets of one /proc/net table bound to port; -1 when it cannot be read.
int countInTable(const char* path, int port)
{
    FILE* f = std::fopen(path, "re");
    if (!f)
        return -1;
    int count = 0;
    char line[512];
    bool header = true;
    while (std::fgets(line, sizeof line, f)) {
        if (header) {
            header = false;
            continue;
        }
        // "  sl  local_address ..." : the local address is the second field,
        // "HEXADDR:HEXPORT".
        char local[64] = {};
        if (std::sscanf(line, "%*s %63s", local) != 1)
            continue;
        const char* colon = std::strrchr(local, ':');
        if (colon && std::strtol(colon + 1, nullptr, 16) == port)
            ++count;
    }
    std::fclose(f);
    return count;
}

} // namespace

int udpSocketsOnPort(int port)
{
    const int v4 = countInTable("/proc/net/udp", port);
    if (v4 < 0)
        return -1;
    const int v6 = countInTable("/proc/net/udp6", port);
    return v4 + (v6 > 0 ? v6 : 0);  // no udp6 table: IPv6 is off
}

void closeUdpSocketsOnExec()
{
    DIR* dir = opendir("/proc/self/fd");
    if (!dir)
        return;
    while (dirent* e = readdir(dir)) {
        char* end = nullptr;
        const long n = std::strtol(e->d_name, &end, 10);
        if (end == e->d_name || *end != '\0' || n == dirfd(dir))
            continue;
        const int fd = static_cast<int>(n);
        struct stat st {};
        if (fstat(fd, &st) != 0 || !S_ISSOCK(st.st_mode))
            continue;
        int type = 0, domain = 0;
        socklen_t len = sizeof type;
        if (getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &len) != 0 || type != SOCK_DGRAM)
            continue;
        len = sizeof domain;
        if (getsockopt(fd, SOL_SOCKET, SO_DOMAIN, &domain, &len) != 0 || (domain != AF_INET && domain != AF_INET6))
            continue;
        const int flags = fcntl(fd, F_GETFD);
        if (flags >= 0 && !(flags & FD_CLOEXEC))
            fcntl(fd, F_SETFD, flags | FD_CLOEXEC);
    }
    closedir(dir);
}

} // namespace velkor::tel
