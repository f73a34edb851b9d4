// Fuzz entry: the add-in relay's records, read by the event collector's
// worker (ServerSocket::clientSocketWorker and receive) from a connection
// and turned into MV_Server event rows.  Rows go to no agent (the link
// refuses them at once), which leaves the reading unchanged.
//
// Input: the first byte, when odd, puts (byte / 2) KiB of record text before
// the stream, so that records past the size bound occur.  The rest is the
// stream; a 0xFF byte followed by another byte marks where one read of the
// connection ends and the next begins ("\xff\xff" stands for one 0xFF byte).
// Each read arrives as one packet of a local packet socket.
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "addin/server_socket.h"
#include "framework/trace.h"

namespace {

// Largest packet sent: within what one read of the worker takes.
constexpr size_t kMaxPacket = 4000;

std::vector<std::string> Packets(const uint8_t* data, size_t size) {
  std::vector<std::string> packets;
  std::string packet;
  auto flush = [&] {
    if (!packet.empty()) packets.push_back(packet);
    packet.clear();
  };
  if (size > 0 && (data[0] & 1) != 0) {
    for (size_t n = (data[0] / 2) * size_t{1024}; n > 0; n -= std::min(n, kMaxPacket)) {
      packets.push_back(std::string(std::min(n, kMaxPacket), 'x'));
    }
  }
  for (size_t i = 1; i < size; ++i) {
    char c = static_cast<char>(data[i]);
    if (data[i] == 0xFF && i + 1 < size) {
      ++i;
      if (data[i] != 0xFF) {
        flush();
        c = static_cast<char>(data[i]);
      }
    }
    packet += c;
    if (packet.size() == kMaxPacket) flush();
  }
  flush();
  return packets;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  setenv("QVD_TRACE", "all", 1);
  setenv("QVD_TRACE_FILE", "/dev/null", 1);
  TraceReload();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<std::string> packets = Packets(data, size);
  int pair[2];
  if (::socketpair(AF_UNIX, SOCK_SEQPACKET, 0, pair) != 0) std::abort();
  std::thread relay([&packets, fd = pair[1]] {
    for (const std::string& p : packets) {
      if (::send(fd, p.data(), p.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(p.size())) break;
    }
    ::close(fd);
  });
  ServerSocket server;
  server.clientSocketWorker(pair[0]);  // reads until the relay closes; closes pair[0]
  relay.join();
  return 0;
}
