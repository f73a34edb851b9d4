#include "addin/connection_peer.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/sock_diag.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace {

// Inode and owner of the TCP socket whose local end is `local` and whose
// remote end is `remote`, asked of the kernel by that exact pair (socket
// diagnostics over netlink).  1 found, 0 no such socket, -1 the question
// could not be asked.
int askKernel(const sockaddr_in& local, const sockaddr_in& remote, unsigned long* inode, long* uid) {
  int fd = socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_SOCK_DIAG);
  if (fd < 0) return -1;
  struct {
    nlmsghdr header;
    inet_diag_req_v2 request;
  } message;
  memset(&message, 0, sizeof message);
  message.header.nlmsg_len = sizeof message;
  message.header.nlmsg_type = SOCK_DIAG_BY_FAMILY;
  message.header.nlmsg_flags = NLM_F_REQUEST;
  message.request.sdiag_family = AF_INET;
  message.request.sdiag_protocol = IPPROTO_TCP;
  message.request.idiag_states = ~0U;
  message.request.id.idiag_sport = local.sin_port;
  message.request.id.idiag_dport = remote.sin_port;
  message.request.id.idiag_src[0] = local.sin_addr.s_addr;
  message.request.id.idiag_dst[0] = remote.sin_addr.s_addr;
  message.request.id.idiag_cookie[0] = INET_DIAG_NOCOOKIE;
  message.request.id.idiag_cookie[1] = INET_DIAG_NOCOOKIE;
  sockaddr_nl kernel;
  memset(&kernel, 0, sizeof kernel);
  kernel.nl_family = AF_NETLINK;
  int result = -1;
  alignas(nlmsghdr) char answer[8192];
  struct pollfd ready = {fd, POLLIN, 0};
  if (sendto(fd, &message, sizeof message, 0, reinterpret_cast<sockaddr*>(&kernel), sizeof kernel) ==
          static_cast<ssize_t>(sizeof message) &&
      poll(&ready, 1, 1000) == 1) {
    ssize_t got = recv(fd, answer, sizeof answer, 0);
    auto* header = reinterpret_cast<nlmsghdr*>(answer);
    if (got > 0 && NLMSG_OK(header, static_cast<size_t>(got))) {
      if (header->nlmsg_type == SOCK_DIAG_BY_FAMILY &&
          header->nlmsg_len >= NLMSG_LENGTH(sizeof(inet_diag_msg))) {
        auto* found = static_cast<inet_diag_msg*>(NLMSG_DATA(header));
        *inode = found->idiag_inode;
        *uid = static_cast<long>(found->idiag_uid);
        result = *inode != 0 ? 1 : 0;
      } else if (header->nlmsg_type == NLMSG_ERROR &&
                 header->nlmsg_len >= NLMSG_LENGTH(sizeof(nlmsgerr))) {
        // No such socket; any other error: not asked.
        result = static_cast<nlmsgerr*>(NLMSG_DATA(header))->error == -ENOENT ? 0 : -1;
      }
    }
  }
  close(fd);
  return result;
}

// An endpoint as /proc/net/tcp writes it: the address's four bytes as one
// number in the host's order, then the port, both in upper-case hex.
std::string endpointText(const sockaddr_in& address) {
  char text[32];
  snprintf(text, sizeof text, "%08X:%04X", static_cast<unsigned>(address.sin_addr.s_addr),
           static_cast<unsigned>(ntohs(address.sin_port)));
  return text;
}

// Inode and owner of the TCP socket with these ends; false when none.
bool findTcpSocket(const std::string& local, const std::string& remote, unsigned long* inode,
                   long* uid) {
  FILE* table = fopen("/proc/net/tcp", "re");
  if (table == nullptr) return false;
  char line[512];
  bool found = false;
  // sl local_address rem_address st tx:rx tr:when retrnsmt uid timeout inode
  while (!found && fgets(line, sizeof line, table) != nullptr) {
    char l[64], r[64];
    unsigned state = 0;
    long owner = -1;
    unsigned long node = 0;
    if (sscanf(line, " %*d: %63s %63s %x %*s %*s %*s %ld %*d %lu", l, r, &state, &owner, &node) == 5 &&
        local == l && remote == r && node != 0) {
      *inode = node;
      *uid = owner;
      found = true;
    }
  }
  fclose(table);
  return found;
}

// The parent of every process this user can see.
std::map<long, long> parents() {
  std::map<long, long> out;
  DIR* proc = opendir("/proc");
  if (proc == nullptr) return out;
  while (struct dirent* entry = readdir(proc)) {
    char* end = nullptr;
    long pid = strtol(entry->d_name, &end, 10);
    if (pid <= 0 || *end != '\0') continue;
    std::string path = std::string("/proc/") + entry->d_name + "/stat";
    FILE* f = fopen(path.c_str(), "re");
    if (f == nullptr) continue;
    char stat[1024];
    size_t n = fread(stat, 1, sizeof stat - 1, f);
    fclose(f);
    stat[n] = '\0';
    // "pid (comm) state ppid ...": the name may hold spaces and parentheses.
    const char* close = strrchr(stat, ')');
    long ppid = 0;
    char state = 0;
    if (close != nullptr && sscanf(close + 1, " %c %ld", &state, &ppid) == 2) out[pid] = ppid;
  }
  closedir(proc);
  return out;
}

// `root` and every process descended from it.
std::vector<long> processTree(long root) {
  std::map<long, long> parentOf = parents();
  std::vector<long> tree = {root};
  for (size_t i = 0; i < tree.size(); ++i)
    for (const auto& [pid, ppid] : parentOf)
      if (ppid == tree[i] && pid != root) tree.push_back(pid);
  return tree;
}

// True when process `pid` has a descriptor open on socket `inode`.
bool holdsSocket(long pid, unsigned long inode) {
  std::string dir = "/proc/" + std::to_string(pid) + "/fd";
  DIR* fds = opendir(dir.c_str());
  if (fds == nullptr) return false;
  std::string want = "socket:[" + std::to_string(inode) + "]";
  bool held = false;
  while (!held) {
    struct dirent* entry = readdir(fds);
    if (entry == nullptr) break;
    char target[64];
    ssize_t n = readlinkat(dirfd(fds), entry->d_name, target, sizeof target - 1);
    if (n <= 0) continue;
    target[n] = '\0';
    held = want == target;
  }
  closedir(fds);
  return held;
}

}  // namespace

bool connectionMadeBy(int descriptor, long process, ConnectionPeer* peer) {
  *peer = ConnectionPeer();
  sockaddr_in ours, theirs;
  socklen_t oursLength = sizeof ours, theirsLength = sizeof theirs;
  if (getsockname(descriptor, reinterpret_cast<sockaddr*>(&ours), &oursLength) != 0 ||
      getpeername(descriptor, reinterpret_cast<sockaddr*>(&theirs), &theirsLength) != 0 ||
      ours.sin_family != AF_INET || theirs.sin_family != AF_INET) {
    return false;
  }
  peer->port = ntohs(theirs.sin_port);
  // The peer's socket: its local end is our remote end and the reverse.
  // The kernel finds it by that pair; the table of /proc/net/tcp, read in
  // pieces while it changes, can miss it and is only the fallback.
  int asked = askKernel(theirs, ours, &peer->inode, &peer->uid);
  if (asked == 0) return false;
  if (asked < 0 && !findTcpSocket(endpointText(theirs), endpointText(ours), &peer->inode, &peer->uid))
    return false;
  if (process <= 0 || peer->uid != static_cast<long>(geteuid())) return false;
  // The process itself first: the common case needs no look at the others.
  if (holdsSocket(process, peer->inode)) {
    peer->pid = process;
    return true;
  }
  for (long pid : processTree(process)) {
    if (pid != process && holdsSocket(pid, peer->inode)) {
      peer->pid = pid;
      return true;
    }
  }
  return false;
}
