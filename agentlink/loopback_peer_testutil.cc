#include "agentlink/loopback_peer_testutil.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

namespace testutil {

LoopbackPeer::LoopbackPeer() {
  m_listen = socket(AF_INET, SOCK_STREAM, 0);
  int one = 1;
  setsockopt(m_listen, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = 0;
  bind(m_listen, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  listen(m_listen, 4);
  socklen_t len = sizeof addr;
  getsockname(m_listen, reinterpret_cast<sockaddr*>(&addr), &len);
  m_port = ntohs(addr.sin_port);
}

LoopbackPeer::~LoopbackPeer() {
  closeConnection();
  if (m_listen >= 0) close(m_listen);
}

bool LoopbackPeer::accept() {
  m_conn = ::accept(m_listen, nullptr, nullptr);
  return m_conn >= 0;
}

bool LoopbackPeer::send(const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::send(m_conn, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

std::string LoopbackPeer::readLine(bool* ok, int timeoutMs) {
  for (;;) {
    size_t nl = m_pending.find('\n');
    if (nl != std::string::npos) {
      std::string line = m_pending.substr(0, nl);
      m_pending.erase(0, nl + 1);
      if (ok != nullptr) *ok = true;
      return line;
    }
    pollfd p{m_conn, POLLIN, 0};
    char buf[65536];
    ssize_t n = poll(&p, 1, timeoutMs) > 0 ? recv(m_conn, buf, sizeof buf, 0) : 0;
    if (n <= 0) {
      if (ok != nullptr) *ok = false;
      return "";
    }
    m_pending.append(buf, static_cast<size_t>(n));
  }
}

std::string LoopbackPeer::readAll(int timeoutMs) {
  std::string all = m_pending;
  m_pending.clear();
  for (;;) {
    pollfd p{m_conn, POLLIN, 0};
    char buf[65536];
    ssize_t n = poll(&p, 1, timeoutMs) > 0 ? recv(m_conn, buf, sizeof buf, 0) : 0;
    if (n <= 0) return all;
    all.append(buf, static_cast<size_t>(n));
  }
}

std::string LoopbackPeer::chatterUntilClosed(const std::string& line, bool* endOfFile,
                                             std::atomic<bool>* started, int timeoutMs) {
  std::string all = m_pending;
  m_pending.clear();
  *endOfFile = false;
  std::string out = line + "\n";
  size_t sent = 0;  // of the current copy of `out`
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (std::chrono::steady_clock::now() < deadline) {
    ssize_t w = ::send(m_conn, out.data() + sent, out.size() - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (w > 0) sent = (sent + static_cast<size_t>(w)) % out.size();
    pollfd p{m_conn, POLLIN, 0};
    if (poll(&p, 1, 1) <= 0) continue;
    char buf[65536];
    ssize_t n = recv(m_conn, buf, sizeof buf, MSG_DONTWAIT);
    if (n > 0) {
      all.append(buf, static_cast<size_t>(n));
      started->store(true);
      continue;
    }
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) continue;
    *endOfFile = n == 0;
    break;
  }
  closeConnection();
  return all;
}

std::string LoopbackPeer::readSlowly(size_t bytes, size_t piece, int pauseMs, int timeoutMs) {
  std::string all = m_pending;
  m_pending.clear();
  std::string buf(piece, '\0');
  while (all.size() < bytes) {
    pollfd p{m_conn, POLLIN, 0};
    if (poll(&p, 1, timeoutMs) <= 0) break;
    ssize_t n = recv(m_conn, &buf[0], std::min(piece, bytes - all.size()), 0);
    if (n <= 0) break;
    all.append(buf.data(), static_cast<size_t>(n));
    if (pauseMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(pauseMs));
  }
  return all;
}

bool LoopbackPeer::quiet(int waitMs) {
  if (!m_pending.empty()) return false;
  pollfd p{m_conn, POLLIN, 0};
  if (poll(&p, 1, waitMs) <= 0) return true;
  char c;
  return recv(m_conn, &c, 1, MSG_PEEK) <= 0;
}

void LoopbackPeer::closeConnection() {
  if (m_conn >= 0) close(m_conn);
  m_conn = -1;
}

namespace {
std::string g_traceFile;

struct AutoCapture {
  AutoCapture() { CaptureTraces(); }
  ~AutoCapture() {
    if (!g_traceFile.empty()) unlink(g_traceFile.c_str());
  }
} g_autoCapture;
}  // namespace

void CaptureTraces() {
  if (!g_traceFile.empty()) return;
  char name[] = "/tmp/agentlink_trace_XXXXXX";
  int fd = mkstemp(name);
  if (fd >= 0) close(fd);
  g_traceFile = name;
  setenv("QVD_TRACE_FILE", name, 1);
  // Every line but the socket's hexadecimal dumps of whole messages.
  setenv("QVD_TRACE", "all,agentlink/socket=error", 1);
}

std::string TraceText() {
  std::ifstream in(g_traceFile);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

size_t TraceMark() { return TraceText().size(); }

std::string TraceSince(size_t mark) {
  std::string all = TraceText();
  return mark < all.size() ? all.substr(mark) : "";
}

}  // namespace testutil
