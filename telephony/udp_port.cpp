#include "telephony/udp_port.h"

#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

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

// Inodes of the sockets of one /proc/net table bound to port; false when the
// table cannot be read.
bool socketsOnPort(const char* path, int port, std::vector<unsigned long>* inodes)
{
    FILE* f = std::fopen(path, "re");
    if (!f)
        return false;
    char line[512];
    bool header = true;
    while (std::fgets(line, sizeof line, f)) {
        if (header) {
            header = false;
            continue;
        }
        // "sl local_address rem_address st queues tr retrnsmt uid timeout inode ...",
        // the local address as HEXADDR:HEXPORT.
        char local[64] = {};
        unsigned long inode = 0;
        if (std::sscanf(line, "%*s %63s %*s %*s %*s %*s %*s %*s %*s %lu", local, &inode) != 2)
            continue;
        const char* colon = std::strrchr(local, ':');
        if (colon && std::strtol(colon + 1, nullptr, 16) == port)
            inodes->push_back(inode);
    }
    std::fclose(f);
    return true;
}

} // namespace

int udpSocketsOnPort(int port)
{
    std::vector<unsigned long> inodes;
    if (!socketsOnPort("/proc/net/udp", port, &inodes))
        return -1;
    socketsOnPort("/proc/net/udp6", port, &inodes);  // no table: IPv6 is off
    return static_cast<int>(inodes.size());
}

int findUdpSocket(int port)
{
    std::vector<unsigned long> inodes;
    socketsOnPort("/proc/net/udp", port, &inodes);
    socketsOnPort("/proc/net/udp6", port, &inodes);
    if (inodes.empty())
        return -1;
    DIR* dir = opendir("/proc/self/fd");
    if (!dir)
        return -1;
    int found = -1;
    while (dirent* e = readdir(dir)) {
        char* end = nullptr;
        const long fd = std::strtol(e->d_name, &end, 10);
        if (end == e->d_name || *end != '\0')
            continue;
        char target[64] = {};
        const ssize_t n = readlinkat(dirfd(dir), e->d_name, target, sizeof target - 1);
        unsigned long inode = 0;
        if (n > 0 && std::sscanf(target, "socket:[%lu]", &inode) == 1 &&
            std::find(inodes.begin(), inodes.end(), inode) != inodes.end()) {
            found = static_cast<int>(fd);
            break;
        }
    }
    closedir(dir);
    return found;
}

void setCloseOnExec(int fd)
{
    if (fd < 0)
        return;
    const int flags = fcntl(fd, F_GETFD);
    if (flags >= 0 && !(flags & FD_CLOEXEC))
        fcntl(fd, F_SETFD, flags | FD_CLOEXEC);
}

} // namespace velkor::tel
