// TCP client end of the agent link: connect with retries, whole and bounded
// writes, message framing of the incoming byte stream.
#include "agentlink/client_socket.h"

#include <arpa/inet.h>
#include <poll.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "framework/services.h"
#include "framework/trace.h"

QVD_TRACE_UNIT("agentlink/socket");

namespace PWX {

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kReadSize = 4095;

// A write waiting for the agent runs the thread's wait hook this often.
constexpr auto kTick = std::chrono::seconds(1);
// How long a write may go on once the collector is ending.
constexpr auto kEndingGrace = std::chrono::seconds(1);
// A stall this long is traced before the link is given up.
constexpr auto kStallNotice = std::chrono::seconds(5);

// The calling thread's wait hook (ClientSocket::setWaitHook).
thread_local ClientSocket::WaitHook t_waitHook = nullptr;
thread_local void* t_waitHookArg = nullptr;

void RunWaitHook(ClientSocket* socket) {
  if (t_waitHook != nullptr && t_waitHook(t_waitHookArg) != 0) socket->beginEnding();
}

// A duration in whole seconds for trace lines, a part of one counting as one.
long long WholeSeconds(std::chrono::milliseconds d) { return (d.count() + 999) / 1000; }

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

// The turn to write (m_sending), held for the life of the object.  Waiting
// for it calls the thread's wait hook once a second, and ends when the link
// is given up (unless `evenIfGivenUp`, for the callers that must tidy up
// after the writers: the writers all leave at once then).
class ClientSocket::Turn {
 public:
  explicit Turn(ClientSocket* s, bool evenIfGivenUp = false) : m_s(s) {
    std::unique_lock<std::mutex> lock(s->m_writeMutex);
    Clock::time_point nextTick = Clock::now() + kTick;
    while (s->m_sending && (evenIfGivenUp || !s->m_givenUp.load())) {
      if (s->m_turnFree.wait_until(lock, nextTick) == std::cv_status::timeout) {
        lock.unlock();
        RunWaitHook(s);
        lock.lock();
        nextTick = Clock::now() + kTick;
      }
    }
    if (s->m_sending || (!evenIfGivenUp && s->m_givenUp.load())) return;
    s->m_sending = true;
    m_taken = true;
  }
  ~Turn() {
    if (!m_taken) return;
    std::lock_guard<std::mutex> lock(m_s->m_writeMutex);
    m_s->m_sending = false;
    m_s->m_turnFree.notify_all();
  }
  Turn(const Turn&) = delete;
  Turn& operator=(const Turn&) = delete;
  bool taken() const { return m_taken; }

 private:
  ClientSocket* m_s;
  bool m_taken = false;
};

void ClientSocket::setWaitHook(WaitHook hook, void* arg) {
  t_waitHook = hook;
  t_waitHookArg = arg;
}

void ClientSocket::setStallLimit(std::chrono::milliseconds limit) {
  m_stallLimit = limit.count() < 1 ? std::chrono::milliseconds(1) : limit;
}

void ClientSocket::beginEnding() {
  long long now = std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch()).count();
  long long notYet = 0;
  m_endingSince.compare_exchange_strong(notYet, now);
}

Clock::time_point ClientSocket::endingDeadline() const {
  long long since = m_endingSince.load();
  if (since == 0) return Clock::time_point::max();
  return Clock::time_point(std::chrono::duration_cast<Clock::duration>(std::chrono::nanoseconds(since))) +
         kEndingGrace;
}

void ClientSocket::giveUp(bool shutDownLink) {
  m_givenUp.store(true);
  // After a stall the receiving thread must learn that the conversation is
  // over; when the collector is ending anyway, the close does that.
  if (shutDownLink) shutdownBoth();
  std::lock_guard<std::mutex> lock(m_writeMutex);
  m_turnFree.notify_all();  // threads waiting for the turn fail at once
}

void ClientSocket::finishWrites(Clock::time_point deadline) {
  if (m_fd < 0) return;
  // A write in progress gets until about the deadline, not longer.
  beginEnding();
  {
    std::unique_lock<std::mutex> lock(m_writeMutex);
    if (!m_turnFree.wait_until(lock, deadline, [this] { return !m_sending; })) {
      // The peer does not take what is being written: end the write.
      QVD_ERROR("A write did not finish in time, shutting the connection down");
      m_givenUp.store(true);
      shutdownBoth();
      m_turnFree.wait(lock, [this] { return !m_sending; });
    }
    m_sending = true;
  }
  if (!m_held.empty()) flushHeld();
  m_holding = false;
  ::shutdown(m_fd, SHUT_WR);
  std::lock_guard<std::mutex> lock(m_writeMutex);
  m_sending = false;
  m_turnFree.notify_all();
}

void ClientSocket::shutdownRead() {
  if (m_fd >= 0) ::shutdown(m_fd, SHUT_RD);
}

bool ClientSocket::drainUntilPeerCloses(Clock::time_point deadline) {
  if (m_fd < 0) return true;
  char scrap[kReadSize];
  for (;;) {
    ssize_t n = recv(m_fd, scrap, sizeof scrap, MSG_DONTWAIT);
    if (n == 0) return true;
    if (n > 0) continue;
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) return true;  // the connection is gone
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) return false;
    pollfd p{m_fd, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(left.count()) + 1) == 0) return false;
  }
}

bool ClientSocket::write(const String* message) {
  return write(message->c_str(), message->length());
}

bool ClientSocket::write(const char* data, int len) {
  Turn turn(this);
  if (!turn.taken()) return false;
  size_t total = len > 0 ? static_cast<size_t>(len) : 0;
  if (m_holding && m_holder == std::this_thread::get_id() && total <= kHoldLimit) {
    // Gathered answers leave in one send instead of one small segment each.
    if (m_held.size() + total > kHoldLimit && !flushHeld()) return false;
    m_held.append(data, total);
    m_heldEnds.push_back(m_held.size());
    return true;
  }
  // Whatever is gathered was written before this message.
  if (!m_held.empty() && !flushHeld()) return false;
  if (!sendAll(data, total)) return false;
  if (QVD_TRACE_ON(TRACE_DETAIL)) {
    char header[64];
    std::snprintf(header, sizeof header, "send on socket %d \n", m_fd);
    TraceDump(&qvd_trace_unit, __LINE__, header, data, total);
  }
  return true;
}

bool ClientSocket::sendAll(const char* data, size_t total) {
  size_t done = 0;
  Clock::time_point lastProgress = Clock::now();
  Clock::time_point nextTick = lastProgress + kTick;
  bool noticed = false;  // the stall of this moment was traced
  bool notice = m_stallLimit > kStallNotice;
  while (done < total) {
    if (m_givenUp.load()) return false;
    // MSG_NOSIGNAL: a peer that went away must give an error, not SIGPIPE.
    // MSG_DONTWAIT: the wait for room is made below, within its limits.
    ssize_t n = send(m_fd, data + done, total - done, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n > 0) {
      done += static_cast<size_t>(n);
      lastProgress = Clock::now();
      noticed = false;
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
      QVD_ERROR("socket write error:%d\n", errno);
      return false;
    }
    // The agent has not taken what was sent before: wait for room.
    Clock::time_point now = Clock::now();
    Clock::time_point endAt = endingDeadline();
    Clock::time_point stallAt = lastProgress + m_stallLimit;
    if (now >= endAt) {
      QVD_ERROR("The collector is ending and the agent did not take the rest of a message: giving the connection up");
      giveUp(false);
      return false;
    }
    if (now >= stallAt) {
      QVD_ERROR("The agent took no data for %lld seconds: giving the connection up", WholeSeconds(m_stallLimit));
      giveUp(true);
      return false;
    }
    Clock::time_point until = std::min({endAt, stallAt, nextTick});
    if (notice && !noticed) {
      if (now - lastProgress >= kStallNotice) {
        QVD_ERROR("The agent has taken no data for %lld seconds; the connection is given up after %lld seconds",
                  WholeSeconds(kStallNotice), WholeSeconds(m_stallLimit));
        noticed = true;
      } else {
        until = std::min(until, lastProgress + kStallNotice);
      }
    }
    auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(until - now).count() + 1;
    pollfd p{m_fd, POLLOUT, 0};
    poll(&p, 1, static_cast<int>(wait));
    if (Clock::now() >= nextTick) {
      RunWaitHook(this);
      nextTick = Clock::now() + kTick;
    }
  }
  return true;
}

bool ClientSocket::flushHeld() {
  bool ok = sendAll(m_held.data(), m_held.size());
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
  Turn turn(this);
  if (!turn.taken()) return;
  if (m_holding && m_holder != std::this_thread::get_id() && !m_held.empty()) flushHeld();
  m_holding = true;
  m_holder = std::this_thread::get_id();
}

bool ClientSocket::releaseWrites() {
  // Also after a give-up: what is gathered is dropped then.
  Turn turn(this, true);
  if (!m_holding || m_holder != std::this_thread::get_id()) return true;
  m_holding = false;
  return m_held.empty() || flushHeld();
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
