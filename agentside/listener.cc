#include "agentside/listener.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sstream>

#include "agentside/file_text.h"

namespace agentside {

namespace {

int PortOf(const sockaddr_in& addr) { return ntohs(addr.sin_port); }

// The port of an "ADDR:PORT" field of /proc/net/tcp (both in hexadecimal).
int HexPort(const std::string& field) {
  size_t colon = field.find(':');
  if (colon == std::string::npos) return -1;
  return static_cast<int>(std::strtol(field.c_str() + colon + 1, nullptr, 16));
}

// The inode of the socket whose local port is `localPort` and remote port
// `remotePort`, or an empty text.
std::string SocketInode(int localPort, int remotePort) {
  std::string text;
  ReadFileText("/proc/net/tcp", &text);
  std::istringstream in(text);
  std::string line;
  std::getline(in, line);  // the heading
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string sl, local, remote, st, queues, timer, retransmits, uid, timeout, inode;
    if (!(fields >> sl >> local >> remote >> st >> queues >> timer >> retransmits >> uid >> timeout >> inode))
      continue;
    if (HexPort(local) == localPort && HexPort(remote) == remotePort) return inode;
  }
  return "";
}

bool IsNumber(const char* s) {
  if (*s == '\0') return false;
  for (; *s; ++s)
    if (*s < '0' || *s > '9') return false;
  return true;
}

// The process that holds socket `link` ("socket:[inode]"), or 0.
pid_t SocketHolder(const std::string& link) {
  DIR* proc = opendir("/proc");
  if (proc == nullptr) return 0;
  pid_t found = 0;
  while (dirent* p = readdir(proc)) {
    if (!IsNumber(p->d_name)) continue;
    std::string fdDir = std::string("/proc/") + p->d_name + "/fd";
    DIR* fds = opendir(fdDir.c_str());
    if (fds == nullptr) continue;  // another user's process, or gone
    while (dirent* f = readdir(fds)) {
      if (!IsNumber(f->d_name)) continue;
      char target[64];
      ssize_t n = readlink((fdDir + "/" + f->d_name).c_str(), target, sizeof target - 1);
      if (n > 0 && link.compare(0, std::string::npos, target, static_cast<size_t>(n)) == 0) {
        found = static_cast<pid_t>(std::atol(p->d_name));
        break;
      }
    }
    closedir(fds);
    if (found != 0) break;
  }
  closedir(proc);
  return found;
}

// The parent of `pid` from /proc/<pid>/stat, or 0.
pid_t ParentOf(pid_t pid) {
  std::string stat;
  if (!ReadFileText("/proc/" + std::to_string(pid) + "/stat", &stat)) return 0;
  size_t close = stat.rfind(')');  // the command name may hold blanks and parentheses
  if (close == std::string::npos) return 0;
  std::istringstream rest(stat.substr(close + 1));
  std::string state;
  long ppid = 0;
  rest >> state >> ppid;
  return static_cast<pid_t>(ppid);
}

}  // namespace

bool LoopbackListener::Listen(int port, std::string* error) {
  Close();
  fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd_ < 0) {
    *error = std::string("socket: ") + strerror(errno);
    return false;
  }
  int one = 1;
  setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(static_cast<uint16_t>(port));
  if (bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(fd_, 4) != 0) {
    *error = "cannot listen on 127.0.0.1:" + std::to_string(port) + ": " + strerror(errno);
    Close();
    return false;
  }
  socklen_t len = sizeof addr;
  getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len);
  port_ = PortOf(addr);
  return true;
}

int LoopbackListener::Accept(std::chrono::steady_clock::time_point deadline,
                             const std::function<bool()>& keepWaiting, pid_t peer, int* refused) {
  while (fd_ >= 0) {
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, 50) > 0) {
      int fd = accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd >= 0) {
        if (peer > 0 && !PeerHeldBy(fd, peer)) {
          close(fd);
          if (refused != nullptr) ++*refused;
          continue;
        }
        int one = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        return fd;
      }
    }
    if (keepWaiting && !keepWaiting()) return -1;
    if (std::chrono::steady_clock::now() >= deadline) return -1;
  }
  return -1;
}

void LoopbackListener::Close() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
}

bool PeerHeldBy(int fd, pid_t pid) {
  sockaddr_in local{}, remote{};
  socklen_t len = sizeof local;
  if (getsockname(fd, reinterpret_cast<sockaddr*>(&local), &len) != 0) return false;
  len = sizeof remote;
  if (getpeername(fd, reinterpret_cast<sockaddr*>(&remote), &len) != 0) return false;
  // The peer's socket: its local port is our remote one and the other way round.
  std::string inode = SocketInode(PortOf(remote), PortOf(local));
  if (inode.empty() || inode == "0") return false;
  pid_t holder = SocketHolder("socket:[" + inode + "]");
  for (int depth = 0; holder > 1 && depth < 64; ++depth) {
    if (holder == pid) return true;
    holder = ParentOf(holder);
  }
  return false;
}

}  // namespace agentside
