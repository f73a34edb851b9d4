// Fuzz entry: the agent's byte stream through the socket framing
// (PWX::ClientSocket::receive) and each framed message through the parser and
// the request decoder, the way cp_WaitForRequest reads requests.
//
// Input: the first byte chooses the longest message accepted (odd: 2 + byte/2,
// so that over-long messages are dropped; even: the default).  The rest is the
// stream; a 0xFF byte followed by another byte marks where one read of the
// socket ends and the next begins ("\xff\xff" stands for one 0xFF byte), so
// the fuzzer splits messages and terminators at every boundary.  Each read
// arrives as one packet of a local packet socket put in place of the
// connection.
//
// Checks: the messages received are, in order, messages of the stream as
// split at each '>' + line feed (up to a zero byte, where the text ends); with
// the default limit they are all of them, and the failing receive at the end
// of the stream hands out exactly the unterminated rest.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "agentlink/client_request_handler.h"
#include "agentlink/client_socket.h"
#include "agentlink/parser.h"
#include "framework/trace.h"

namespace {

// Largest read of the socket framing: a packet must fit into one read.
constexpr size_t kMaxPacket = 4095;

void Check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "stream fuzz check failed: %s\n", what);
    std::abort();
  }
}

// A ClientSocket connected once to a loopback listener; each input swaps a
// fresh packet socket in under the same descriptor.
struct Link {
  int listener = -1;
  int peer = -1;
  PWX::ClientSocket* socket = nullptr;

  Link() {
    listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    Check(listener >= 0 && ::bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
              ::listen(listener, 1) == 0 && ::getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len) == 0,
          "loopback listener");
    socket = new PWX::ClientSocket(ntohs(addr.sin_port), "127.0.0.1");
    Check(socket->open(), "connect");
    peer = ::accept(listener, nullptr, nullptr);
    Check(peer >= 0, "accept");
  }
};

Link& TheLink() {
  static Link* link = new Link();  // kept for the life of the process
  return *link;
}

// The stream and its reads, decoded from the input.
struct Stream {
  std::string bytes;
  std::vector<std::string> packets;
};

Stream Decode(const uint8_t* data, size_t size) {
  Stream s;
  std::string packet;
  auto flush = [&] {
    if (!packet.empty()) s.packets.push_back(packet);
    packet.clear();
  };
  for (size_t i = 0; i < size; ++i) {
    char c = static_cast<char>(data[i]);
    if (data[i] == 0xFF && i + 1 < size) {
      ++i;
      if (data[i] != 0xFF) {
        flush();
        c = static_cast<char>(data[i]);
      }
    }
    s.bytes += c;
    packet += c;
    if (packet.size() == kMaxPacket) flush();
  }
  flush();
  return s;
}

// The messages of the stream as the framing must hand them out.
std::vector<std::string> Expected(const std::string& bytes, std::string* rest) {
  std::vector<std::string> messages;
  size_t start = 0;
  for (size_t at = bytes.find(">\n"); at != std::string::npos; at = bytes.find(">\n", start)) {
    std::string m = bytes.substr(start, at + 1 - start);
    messages.push_back(m.substr(0, m.find('\0')));
    start = at + 2;
  }
  std::string r = bytes.substr(start);
  *rest = r.substr(0, r.find('\0'));
  return messages;
}

// The message decoded as cp_WaitForRequest decodes it.
void ParseMessage(PWX::String* message) {
  std::vector<char> text(message->c_str(), message->c_str() + message->length() + 1);
  ClientRequestXMLHandler handler;
  Parser parser(&handler);
  parser.parse(text.data());
  size_t n = 0;
  for (const char* s : {handler.getAttrGroup(), handler.getTaskRequest(), handler.getTaskRequestUser(),
                        handler.getId(), handler.getRequestStartedID(), handler.getSubnode()}) {
    if (s != nullptr) n += std::strlen(s);
  }
  for (const RequestInfo* r = handler.getRequestInfoHead(); r != nullptr; r = r->next) {
    for (const char* s : {r->name, r->value, r->op, r->logOp}) {
      if (s != nullptr) n += std::strlen(s);
    }
  }
  (void)n;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  setenv("QVD_TRACE", "all", 1);
  setenv("QVD_TRACE_FILE", "/dev/null", 1);
  TraceReload();
  TheLink();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  Link& link = TheLink();
  bool limited = (data[0] & 1) != 0;
  link.socket->setMaxMessageLength(limited ? 2 + data[0] / 2 : PWX::ClientSocket::kDefaultMaxMessageLength);
  Stream stream = Decode(data + 1, size - 1);

  int pair[2];
  Check(::socketpair(AF_UNIX, SOCK_SEQPACKET, 0, pair) == 0, "socketpair");
  Check(::dup2(pair[0], link.socket->descriptor()) >= 0, "dup2");
  ::close(pair[0]);
  std::thread writer([&stream, fd = pair[1]] {
    for (const std::string& p : stream.packets) {
      if (::send(fd, p.data(), p.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(p.size())) break;
    }
    ::close(fd);
  });

  std::vector<std::string> got;
  PWX::String message(256);
  while (link.socket->receive(&message)) {
    got.emplace_back(message.c_str(), static_cast<size_t>(message.length()));
    ParseMessage(&message);
  }
  writer.join();
  Check(!link.socket->messageBuffered(), "nothing kept after the end of the stream");

  std::string rest;
  std::vector<std::string> expected = Expected(stream.bytes, &rest);
  size_t next = 0;
  for (const std::string& m : got) {
    while (next < expected.size() && expected[next] != m) ++next;
    Check(next < expected.size(), "a received message is a message of the stream, in order");
    ++next;
  }
  if (!limited) {
    Check(got == expected, "every message received");
    Check(std::string(message.c_str(), static_cast<size_t>(message.length())) == rest,
          "the unterminated rest handed out at the end");
  }
  return 0;
}
