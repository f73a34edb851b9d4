#include "addin/server_socket.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "agentlink/cp_client.h"
#include "framework/trace.h"
#include "stats/catalogue.h"
#include "util/string_tokenizer.h"

QVD_TRACE_UNIT("addin/server");

namespace {

constexpr int kReadSize = 4096;

void dump(const char* header, const char* data, size_t length) {
  if (QVD_TRACE_ON(TRACE_DETAIL)) TraceDump(&qvd_trace_unit, __LINE__, header, data, length);
}

// Text of a descriptor, the key of its pending text.
std::string keyOf(int descriptor) { return std::to_string(descriptor); }

}  // namespace

ServerSocket::ServerSocket() : pending_(10) { memset(&address_, 0, sizeof address_); }

ServerSocket::~ServerSocket() {
  if (descriptor_ >= 0) close(descriptor_);
  pending_.foreach([](const char* key, const void* data, void*) {
    delete static_cast<const QVD::String*>(data);
    delete[] key;
  }, nullptr);
  pending_.clear();
}

bool ServerSocket::open(int port, const char* host) {
  port_ = port;
  portText_.copy(std::to_string(port).c_str());
  QVD_DETAIL("Called with port %d", port);
  memset(&address_, 0, sizeof address_);
  address_.sin_family = AF_INET;
  address_.sin_port = htons(static_cast<uint16_t>(port));
  if (host == nullptr) {
    address_.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    QVD_DETAIL("Using IP %s", "127.0.0.1");
  } else if (inet_pton(AF_INET, host, &address_.sin_addr) == 1) {
    QVD_DETAIL("Using IP: %s", host);
  } else {
    QVD_DETAIL("Using hostname: %s ", host);
    struct addrinfo hints;
    memset(&hints, 0, sizeof hints);
    hints.ai_family = AF_INET;
    struct addrinfo* found = nullptr;
    if (getaddrinfo(host, nullptr, &hints, &found) != 0 || found == nullptr) {
      QVD_ERROR("Can not get ip address by using hostname: %s", host);
      return false;
    }
    address_.sin_addr = reinterpret_cast<struct sockaddr_in*>(found->ai_addr)->sin_addr;
    freeaddrinfo(found);
  }

  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd == 0) {
    QVD_DETAIL("ServerSocket 0 skipped for use but remains open.");
    fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  }
  if (fd < 0) {
    QVD_ERROR("Unable to open TCP socket, errno=%d", errno);
    return false;
  }
  QVD_DETAIL("TCP socket %d opened", fd);
  int on = 1;
  if (setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on) != 0)
    QVD_ERROR("Error setting NODELAY option");
  if (setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0)
    QVD_ERROR("Error setting SO_REUSEADDR option");
  if (bind(fd, reinterpret_cast<struct sockaddr*>(&address_), sizeof address_) != 0) {
    QVD_ERROR("Bind failed for local address TCP socket %d, port=%d, errno=%d", fd, port, errno);
    close(fd);
    return false;
  }
  if (port == 0) {
    struct sockaddr_in bound;
    socklen_t length = sizeof bound;
    if (getsockname(fd, reinterpret_cast<struct sockaddr*>(&bound), &length) == 0) {
      port_ = ntohs(bound.sin_port);
      portText_.copy(std::to_string(port_).c_str());
      QVD_DETAIL("Successfully retrieved client ephemeral port: %d", port_);
    } else {
      QVD_ERROR("Failed to get client port with: %s", strerror(errno));
    }
  }
  QVD_DETAIL("TCP socket %d bound to port %d", fd, port_);
  if (listen(fd, 0) != 0) {
    QVD_ERROR("Listen failed, errno=%d", errno);
    close(fd);
    return false;
  }
  std::lock_guard<std::mutex> lock(servedMutex_);
  descriptor_ = fd;
  return true;
}

void ServerSocket::run() {
  QVD_DETAIL("Accepting...");
  int fd = -1;
  while (fd < 0) {
    while (descriptor_ >= 0 && acceptCheck_ != nullptr) {
      struct pollfd ready = {descriptor_, POLLIN, 0};
      int n = poll(&ready, 1, 1000);
      if (n != 0) break;  // a connection, or an error that accept reports
      if (!acceptCheck_(acceptCheckArg_)) {
        QVD_ERROR("Accept abandoned: no connection is coming");
        return;
      }
    }
    do {
      fd = accept4(descriptor_, nullptr, nullptr, SOCK_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
      QVD_ERROR("Accept failed, errno=%d", errno);
      return;
    }
    if (peerCheck_ == nullptr) {
      QVD_ERROR("Connection %d refused: no process may send events here", fd);
      close(fd);
      fd = -1;
    } else if (!peerCheck_(fd, peerCheckArg_)) {
      close(fd);  // unread: none of its bytes becomes an event
      fd = -1;
    }
  }
  QVD_DETAIL("New connection accepted");
  {
    std::lock_guard<std::mutex> lock(servedMutex_);
    served_ = fd;
  }
  clientSocketWorker(fd);
}

void ServerSocket::shutdownConnections() {
  std::lock_guard<std::mutex> lock(servedMutex_);
  if (served_ >= 0) shutdown(served_, SHUT_RDWR);
  if (descriptor_ >= 0) shutdown(descriptor_, SHUT_RDWR);
}

void ServerSocket::handleRecord(char* record) {
  if (record[0] != 'E') {
    QVD_ERROR("Invalid message type %c", record[0] != '\0' ? record[0] : ' ');
    return;
  }
  dump("Message received from qvdmvevent:", record, strlen(record));
  // "E", a separator, then server US message US priority; a missing
  // separator leaves the fields after it empty.
  static char empty[] = "";
  char* server = record[1] != '\0' ? record + 2 : empty;
  char* message = empty;
  char* priority = empty;
  if (char* us = strchr(server, kUnitSeparator)) {
    *us = '\0';
    message = us + 1;
    if (char* us2 = strchr(message, kUnitSeparator)) {
      *us2 = '\0';
      priority = us2 + 1;
    }
  }
  char* eventTime = get_timestamp();
  MV_Server[0] = server;
  MV_Server[1] = eventTime;
  MV_Server[2] = priority;
  MV_Server[3] = message;
  QVD_DETAIL("Sending message Server_Name = %s", server);
  QVD_DETAIL("Sending message Server_Message = %s", message);
  QVD_DETAIL("Sending message Message_Priority = %s", priority);
  QVD_DETAIL("Sending message Event_Time = %s", eventTime ? eventTime : "");
  QVD_DETAIL("Sending message for handle = %s", MV_Server_Handle);
  cp_SendEventData(const_cast<const char**>(MV_Server), MV_Server_ColumnCount, MV_Server_Handle);
  for (char*& slot : MV_Server) slot = nullptr;
  free(eventTime);
}

void ServerSocket::clientSocketWorker(int descriptor) {
  QVD::String records(4096);
  std::string record;
  for (;;) {
    if (receive(&records, descriptor) == -1) break;
    if (records.length() > 0) {
      dump("Received client data:", records.c_str(), static_cast<size_t>(records.length()));
      StringTokenizer tokens(records.c_str(), "\x1e");
      for (const char* token = tokens.next(); token != nullptr; token = tokens.next()) {
        record.assign(token);
        handleRecord(&record[0]);
      }
    } else {
      QVD_ERROR("clientSocketWorker: NULL ptr found, ignoring...");
    }
    QVD_DETAIL("clientSocketWorker: Going into listen mode again...");
  }
  QVD_ERROR("Failed receiving client data, closed client connection %d", descriptor);
  std::lock_guard<std::mutex> lock(servedMutex_);
  if (served_ == descriptor) served_ = -1;
  close(descriptor);
}

QVD::String* ServerSocket::pendingFor(int descriptor, bool create) {
  std::string key = keyOf(descriptor);
  const void* found = pending_.get(key.c_str());
  if (found != nullptr || !create) return const_cast<QVD::String*>(static_cast<const QVD::String*>(found));
  char* ownedKey = new char[key.size() + 1];
  memcpy(ownedKey, key.c_str(), key.size() + 1);
  auto* text = new QVD::String();
  if (!pending_.put(ownedKey, text)) {
    delete[] ownedKey;
    delete text;
    return nullptr;
  }
  return text;
}

void ServerSocket::dropPending(int descriptor) {
  skipping_.erase(descriptor);
  std::string key = keyOf(descriptor);
  const char* ownedKey = nullptr;
  const void* text = pending_.remove(key.c_str(), &ownedKey);
  delete static_cast<const QVD::String*>(text);
  delete[] ownedKey;
}

int ServerSocket::receive(QVD::String* records, int descriptor) {
  records->copy("");
  // The unfinished record so far: what the last call kept, then new bytes.
  std::string tail;
  if (QVD::String* kept = pendingFor(descriptor, false)) {
    tail.assign(kept->c_str(), static_cast<size_t>(kept->length()));
    kept->copy("");
  }
  bool skipping = skipping_.count(descriptor) != 0;
  bool complete = false;
  char buffer[kReadSize];
  while (!complete) {
    ssize_t n = recv(descriptor, buffer, kReadSize - 1, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n == 0) {
      QVD_ERROR("Receive from client socket %d failed with return of 0.", descriptor);
      dropPending(descriptor);
      return -1;
    }
    if (n < 0) {
      QVD_ERROR("Receive from client socket %d failed with errno=%d.", descriptor, errno);
      dropPending(descriptor);
      return -1;
    }
    // Zero bytes cannot be carried in a record's text: dropped.
    size_t length = 0;
    for (ssize_t i = 0; i < n; ++i)
      if (buffer[i] != '\0') buffer[length++] = buffer[i];
    buffer[length] = '\0';
    dump("recv buffer:", buffer, length);
    size_t pos = 0;
    while (pos < length) {
      char* rs = static_cast<char*>(memchr(buffer + pos, kRecordSeparator, length - pos));
      size_t end = rs != nullptr ? static_cast<size_t>(rs - buffer) : length;
      if (skipping) {
        if (rs != nullptr) skipping = false;
      } else {
        tail.append(buffer + pos, end - pos);
        if (tail.size() > static_cast<size_t>(kMaxEventRecord)) {
          QVD_ERROR("Record from client socket %d longer than %d bytes without a record separator: "
                    "dropped",
                    descriptor, kMaxEventRecord);
          tail.clear();
          skipping = rs == nullptr;
        } else if (rs != nullptr) {
          tail.push_back(kRecordSeparator);
          records->append(tail.c_str(), static_cast<int>(tail.size()));
          tail.clear();
          complete = true;
        }
      }
      pos = end + (rs != nullptr ? 1 : 0);
    }
    if (!complete && !tail.empty())
      QVD_DETAIL("Received JUST partial data for socket %d, keep reading: |%s|", descriptor, tail.c_str());
  }
  if (skipping) {
    skipping_.insert(descriptor);
  } else {
    skipping_.erase(descriptor);
  }
  if (!tail.empty()) {
    QVD_DETAIL("Received partial data for socket %d, save it away for the next read: |%s|",
               descriptor, tail.c_str());
    if (QVD::String* kept = pendingFor(descriptor, true)) {
      kept->append(tail.c_str(), static_cast<int>(tail.size()));
    }
  }
  return 0;
}

char* get_timestamp() {
  time_t now = time(nullptr);
  struct tm local;
  if (localtime_r(&now, &local) == nullptr) return nullptr;
  char* text = static_cast<char*>(malloc(32));
  if (text == nullptr) return nullptr;
  snprintf(text, 32, "%03d%02d%02d%02d%02d%02d000", local.tm_year, local.tm_mon + 1,
           local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
  return text;
}
