// QVD::ClientSocket: the small TCP client with which the event collector
// registers with the add-in's event relay: connect to the add-in host and
// port, write one record, close; the same object is opened again for every
// registration.  Host names are resolved (first IPv4 address); dotted
// addresses are used as they are.
//
// Thread-safety: none; one thread (collectMVEvents) uses an instance.
#ifndef QVD_ADDIN_CLIENT_SOCKET_H_
#define QVD_ADDIN_CLIENT_SOCKET_H_

#include <netinet/in.h>

#include "util/qvd_string.h"

namespace QVD {

class ClientSocket {
 public:
  // Stores `port` and `host` (not copied: it must outlive the object);
  // closed (descriptor -1).
  ClientSocket(int port, const char* host);
  // Closes the descriptor when open.
  virtual ~ClientSocket();
  ClientSocket(const ClientSocket&) = delete;
  ClientSocket& operator=(const ClientSocket&) = delete;

  // True when `text` is not null and holds only decimal digits and full
  // stops (the empty text included).
  static bool isIPAddress(const char* text);

  // Resolves the host and connects, with at most four attempts, sleeping 2,
  // 4, 8 and 16 seconds after the failed ones (less when the add-in threads
  // are asked to stop, which also ends the attempts).  False at once when
  // the name does not resolve or no socket can be made; false after the
  // fourth failed attempt.
  bool open();

  // Closes the descriptor (when open) and sets it to -1.
  void closeSocket();

  // Sends the whole text (short sends are continued).  False on a send
  // error; the connection then stays open until closeSocket.
  bool write(String* text);

  int descriptor() const { return descriptor_; }

 private:
  struct sockaddr_in address_;
  int port_;
  const char* host_;
  int descriptor_ = -1;
};

}  // namespace QVD

#endif  // QVD_ADDIN_CLIENT_SOCKET_H_
