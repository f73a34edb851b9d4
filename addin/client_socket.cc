#include "addin/client_socket.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "framework/trace.h"

QVD_TRACE_UNIT("addin/client");

namespace QVD {

namespace {

constexpr int kAttempts = 4;

}  // namespace

ClientSocket::ClientSocket(int port, const char* host, AddInPace* pace)
    : port_(port), host_(host), pace_(pace != nullptr ? pace : &AddInPace::standard()) {
  memset(&address_, 0, sizeof address_);
  QVD_DETAIL("ClientSocket initialized socket for ipaddr %s port %d", host_ ? host_ : "(null)", port_);
}

ClientSocket::~ClientSocket() { closeSocket(); }

bool ClientSocket::isIPAddress(const char* text) {
  if (text == nullptr) return false;
  for (const char* p = text; *p != '\0'; ++p)
    if (*p != '.' && (*p < '0' || *p > '9')) return false;
  return true;
}

bool ClientSocket::open() {
  closeSocket();
  memset(&address_, 0, sizeof address_);
  if (isIPAddress(host_)) {
    QVD_DETAIL("Using IP %s", host_);
    // The rules of inet_aton, which take every form of dotted text that
    // isIPAddress lets through ("127.1" too, which inet_pton refuses).
    if (inet_aton(host_, &address_.sin_addr) == 0) {
      QVD_ERROR("can not get ip address by using host name %s", host_);
      return false;
    }
  } else {
    QVD_DETAIL("Using host name %s ", host_ ? host_ : "(null)");
    struct addrinfo hints;
    memset(&hints, 0, sizeof hints);
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    struct addrinfo* found = nullptr;
    if (host_ == nullptr || getaddrinfo(host_, nullptr, &hints, &found) != 0 || found == nullptr) {
      QVD_ERROR("can not get ip address by using host name %s", host_ ? host_ : "(null)");
      return false;
    }
    address_.sin_addr = reinterpret_cast<struct sockaddr_in*>(found->ai_addr)->sin_addr;
    freeaddrinfo(found);
  }
  address_.sin_family = AF_INET;
  address_.sin_port = htons(static_cast<uint16_t>(port_));
  char dotted[INET_ADDRSTRLEN] = "";
  inet_ntop(AF_INET, &address_.sin_addr, dotted, sizeof dotted);

  unsigned pause = 2;
  for (int attempt = 1;; ++attempt) {
    descriptor_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (descriptor_ < 0) {
      QVD_ERROR("unable to open TCP socket, errno=%d\n", errno);
      descriptor_ = -1;
      return false;
    }
    QVD_DETAIL("opened socket %d", descriptor_);
    int on = 1;
    if (setsockopt(descriptor_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on) != 0)
      QVD_ERROR("Error setting NODELAY option");
    if (connect(descriptor_, reinterpret_cast<struct sockaddr*>(&address_), sizeof address_) == 0) {
      QVD_DETAIL("connect successful for socket %d addr %s port %d", descriptor_, dotted, port_);
      return true;
    }
    int error = errno;
    bool last = attempt == kAttempts;
    if (last) {
      QVD_ERROR("unable to connect to TCP socket, errno=%d retry count exceeded.\n", error);
    } else {
      QVD_ERROR("unable to connect to TCP socket, errno=%d retrying....\n", error);
    }
    bool slept = pace_->sleep(pause);
    closeSocket();
    if (last || !slept || pace_->stopping()) return false;
    pause *= 2;
  }
}

void ClientSocket::closeSocket() {
  if (descriptor_ >= 0) close(descriptor_);
  descriptor_ = -1;
}

bool ClientSocket::write(String* text) {
  const char* data = text->c_str();
  size_t left = static_cast<size_t>(text->length());
  while (left > 0) {
    ssize_t sent = send(descriptor_, data, left, MSG_NOSIGNAL);
    if (sent < 0 && errno == EINTR) continue;
    if (sent < 0) {
      QVD_ERROR("socket write error:%d\n", errno);
      return false;
    }
    data += sent;
    left -= static_cast<size_t>(sent);
  }
  if (QVD_TRACE_ON(TRACE_DETAIL)) {
    char header[64];
    snprintf(header, sizeof header, "send on socket %d \n", descriptor_);
    TraceDump(&qvd_trace_unit, __LINE__, header, text->c_str(), static_cast<size_t>(text->length()));
  }
  return true;
}

}  // namespace QVD
