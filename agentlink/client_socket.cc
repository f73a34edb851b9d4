// TCP client end of the agent link: connect with retries, whole writes,
// message framing of the incoming byte stream.
#include "agentlink/client_socket.h"

#include <arpa/inet.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "framework/services.h"
#include "framework/trace.h"

QVD_TRACE_UNIT("agentlink/socket");

namespace PWX {

namespace {

constexpr int kReadSize = 4095;

// Position of the first '>' '\n' pair in [data + from, data + len), or -1.
long FindTerminator(const char* data, size_t len, size_t from) {
  if (len < 2 || from > len - 2) return -1;
  const void* hit = memmem(data + from, len - from, ">\n", 2);
  return hit != nullptr ? static_cast<const char*>(hit) - data : -1;
}

}  // namespace

ClientSocket::ClientSocket(int port, const char* ipaddr) : m_port(port), m_ipaddr(ipaddr) {
  std::memset(&m_address, 0, sizeof m_address);
  QVD_DETAIL("ClientSocket initialized socket for ipaddr %s port %d", ipaddr != nullptr ? ipaddr : "(null)",
             port);
}

ClientSocket::~ClientSocket() { closeSocket(); }

bool ClientSocket::open() {
  QVD_ENTRY();
  std::memset(&m_address, 0, sizeof m_address);
  m_address.sin_family = AF_INET;
  m_address.sin_port = htons(static_cast<uint16_t>(m_port));
  if (m_ipaddr == nullptr || inet_pton(AF_INET, m_ipaddr, &m_address.sin_addr) != 1) {
    m_address.sin_addr.s_addr = htonl(INADDR_NONE);
  }
  int attemptsLeft = 3;
  unsigned delay = 2;
  for (;;) {
    // Close-on-exec: a child program (the add-in relay) must not inherit the
    // agent connection and keep it open after the collector has ended.
    m_fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (m_fd < 0) {
      QVD_ERROR("Unable to open TCP socket, errno=%d\n", errno);
      m_fd = -1;
      QVD_EXIT(0);
      return false;
    }
    QVD_DETAIL("Opened socket %d", m_fd);
    int one = 1;
    if (setsockopt(m_fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one) != 0) {
      QVD_ERROR("Error setting NODELAY option");
    }
    if (connect(m_fd, reinterpret_cast<struct sockaddr*>(&m_address), sizeof m_address) == 0) {
      QVD_DETAIL("Connect successful for socket %d addr %s port %d", m_fd, m_ipaddr, m_port);
      QVD_EXIT(1);
      return true;
    }
    int err = errno;
    QVD_ERROR("Unable to connect to TCP socket for port %d, errno=%d - retrying....\n", m_port, err);
    SleepSeconds(delay);
    delay *= 2;
    ::close(m_fd);
    m_fd = -1;
    if (attemptsLeft == 0) {
      QVD_ERROR("Unable to connect to TCP socket, errno=%d - retry count exceeded.\n", err);
      QVD_EXIT(0);
      return false;
    }
    --attemptsLeft;
  }
}

void ClientSocket::closeSocket() {
  if (m_fd >= 0) {
    ::close(m_fd);
    m_fd = -1;
  }
}

void ClientSocket::shutdownBoth() {
  if (m_fd >= 0) ::shutdown(m_fd, SHUT_RDWR);
}

bool ClientSocket::write(const String* message) {
  return write(message->c_str(), message->length());
}

bool ClientSocket::write(const char* data, int len) {
  std::lock_guard<std::mutex> hold(m_writeMutex);
  size_t total = len > 0 ? static_cast<size_t>(len) : 0;
  if (m_holding && m_holder == std::this_thread::get_id() && total <= kHoldLimit) {
    // Gathered answers leave in one send instead of one small segment each.
    if (m_held.size() + total > kHoldLimit && !flushHeldLocked()) return false;
    m_held.append(data, total);
    m_heldEnds.push_back(m_held.size());
    return true;
  }
  // Whatever is gathered was written before this message.
  if (!m_held.empty() && !flushHeldLocked()) return false;
  if (!sendLocked(data, total)) return false;
  if (QVD_TRACE_ON(TRACE_DETAIL)) {
    char header[64];
    std::snprintf(header, sizeof header, "send on socket %d \n", m_fd);
    TraceDump(&qvd_trace_unit, __LINE__, header, data, total);
  }
  return true;
}

bool ClientSocket::sendLocked(const char* data, size_t total) {
  size_t done = 0;
  while (done < total) {
    // MSG_NOSIGNAL: a peer that went away must give an error, not SIGPIPE.
    ssize_t n = send(m_fd, data + done, total - done, MSG_NOSIGNAL);
    if (n < 0) {
      if (errno == EINTR) continue;
      QVD_ERROR("socket write error:%d\n", errno);
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

bool ClientSocket::flushHeldLocked() {
  bool ok = sendLocked(m_held.data(), m_held.size());
  if (ok && QVD_TRACE_ON(TRACE_DETAIL)) {
    // One dump per message, as if each had been sent on its own.
    char header[64];
    std::snprintf(header, sizeof header, "send on socket %d \n", m_fd);
    size_t start = 0;
    for (size_t end : m_heldEnds) {
      TraceDump(&qvd_trace_unit, __LINE__, header, m_held.data() + start, end - start);
      start = end;
    }
  }
  m_held.clear();  // keeps the capacity for the next hold
  m_heldEnds.clear();
  return ok;
}

void ClientSocket::holdWrites() {
  std::lock_guard<std::mutex> hold(m_writeMutex);
  if (m_holding && m_holder != std::this_thread::get_id() && !m_held.empty()) flushHeldLocked();
  m_holding = true;
  m_holder = std::this_thread::get_id();
}

bool ClientSocket::releaseWrites() {
  std::lock_guard<std::mutex> hold(m_writeMutex);
  if (!m_holding || m_holder != std::this_thread::get_id()) return true;
  m_holding = false;
  return m_held.empty() || flushHeldLocked();
}

bool ClientSocket::messageBuffered() const {
  return FindTerminator(m_leftOver.data(), m_leftOver.size(), 0) >= 0;
}

bool ClientSocket::receive(String* message) {
  message->copy(nullptr);
  // Bytes of m_leftOver before `scanned` hold no terminator; only the last
  // of them may be the '>' of one split over two reads.
  size_t scanned = 0;
  bool dropping = false;  // inside an over-long message
  bool readSocket = false;
  if (!m_leftOver.empty()) QVD_DETAIL("Have left over data from previous read, processing that");
  for (;;) {
    long pos = FindTerminator(m_leftOver.data(), m_leftOver.size(), scanned);
    if (pos >= 0) {
      size_t used = static_cast<size_t>(pos) + 2;
      bool more = used < m_leftOver.size();
      if (dropping) {
        QVD_ERROR("Dropped the rest of an over-long message");
        m_leftOver.erase(m_leftOver.begin(), m_leftOver.begin() + static_cast<long>(used));
        dropping = false;
        scanned = 0;
        continue;
      }
      if (!readSocket) {
        QVD_DETAIL("Left over data contains a complete message, not reading any further this time");
      }
      message->append(m_leftOver.data(), static_cast<int>(pos + 1));
      if (more) QVD_DETAIL("Have leftover data after a complete message-- saving for next time");
      m_leftOver.erase(m_leftOver.begin(), m_leftOver.begin() + static_cast<long>(used));
      break;
    }
    scanned = m_leftOver.empty() ? 0 : m_leftOver.size() - 1;
    if (m_leftOver.size() > static_cast<size_t>(m_maxMessage)) {
      if (!dropping) {
        QVD_ERROR("Message longer than %d bytes without terminator, dropping it", m_maxMessage);
      }
      dropping = true;
      // Keep only a last '>' that the next read may complete.
      bool keepLast = m_leftOver.back() == '>';
      m_leftOver.clear();
      if (keepLast) m_leftOver.push_back('>');
      scanned = 0;
    }
    if (!m_leftOver.empty() && !dropping) {
      QVD_DETAIL(readSocket ? "Did not find newline, continue reading"
                            : "Have left over data, but it is not complete.  Will read rest of message");
    }
    readSocket = true;
    size_t old = m_leftOver.size();
    m_leftOver.resize(old + kReadSize);
    ssize_t n;
    do {
      n = recv(m_fd, m_leftOver.data() + old, kReadSize, 0);
    } while (n < 0 && errno == EINTR);
    if (n <= 0) {
      int err = n == 0 ? 0 : errno;
      m_leftOver.resize(old);
      if (!dropping) message->append(m_leftOver.data(), static_cast<int>(old));
      m_leftOver.clear();
      QVD_ERROR("socket receive error: %d", err);
      return false;
    }
    m_leftOver.resize(old + static_cast<size_t>(n));
  }
  if (QVD_TRACE_ON(TRACE_DETAIL)) {
    char header[64];
    std::snprintf(header, sizeof header, "receive on socket %d \n", m_fd);
    TraceDump(&qvd_trace_unit, __LINE__, header, message->c_str(), static_cast<size_t>(message->length()));
  }
  return true;
}

}  // namespace PWX
