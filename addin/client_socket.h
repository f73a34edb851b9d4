// QVD::ClientSocket: the small TCP client with which the event collector
// registers with the add-in's event relay: connect to the add-in host and
// port, write one record, close; the same object is opened again for every
// registration.  Host names are resolved (first IPv4 address); dotted
// addresses are converted with the rules of inet_aton, the same text that
// isIPAddress accepts: "127.1" is 127.0.0.1.
//
// Thread-safety: none; one thread (collectMVEvents) uses an instance.
#ifndef QVD_ADDIN_CLIENT_SOCKET_H_
#define QVD_ADDIN_CLIENT_SOCKET_H_

#include <netinet/in.h>

#include "addin/addin_pace.h"
#include "util/qvd_string.h"

namespace QVD {

class ClientSocket {
 public:
  // Stores `port` and `host` (not copied: it must outlive the object);
  // closed (descriptor -1).  The pauses between connection attempts go
  // through `pace` (not owned; null: AddInPace::standard()).
  ClientSocket(int port, const char* host, AddInPace* pace = nullptr);
  // Closes the descriptor when open.
  virtual ~ClientSocket();
  ClientSocket(const ClientSocket&) = delete;
  ClientSocket& operator=(const ClientSocket&) = delete;

  // True when `text` is not null and holds only decimal digits and full
  // stops (the empty text included).
  static bool isIPAddress(const char* text);

  // Resolves the host and connects, with at most four attempts, pausing 2,
  // 4, 8 and 16 seconds after the failed ones (less when the add-in threads
  // are asked to stop, which also ends the attempts).  False at once when
  // the name does not resolve, dotted text is no address (inet_aton) or no
  // socket can be made; false after the fourth failed attempt.
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
  AddInPace* pace_;
  int descriptor_ = -1;
};

}  // namespace QVD

#endif  // QVD_ADDIN_CLIENT_SOCKET_H_
