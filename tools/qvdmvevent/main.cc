// qvdmvevent: a stand-in for the Mirvane add-in's event relay.
//
// It listens at the add-in host and port (QVD_MVHOSTNAME, QVD_MVPORT),
// takes the collector's registration record ("R" US server US port RS),
// connects to 127.0.0.1 at the registered port and forwards events as
// records "E" US server US message US priority RS.  The events come from a
// feed file (QVD_MVEVENT_FILE) that a person or a test appends lines to
// while the relay runs; see README.md for the line forms.  Progress lines
// go to QVD_MVEVENT_LOG (appended) or standard error.  With
// QVD_MVEVENT_FDS set, the descriptors it inherited are listed in that file
// at start.
//
// The relay ends when the collector closes the event connection, when the
// collector that started it ends (also when it ended before the relay got
// going: the collector passes its pid in QVD_COLLECTOR_PID), or on a feed
// line "!exit".  How far the
// feed was forwarded is kept in <feed>.offset, so a relay started again
// goes on where the last one stopped.
#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <string>

namespace {

constexpr char kRS = 0x1E;
constexpr char kUS = 0x1F;
constexpr size_t kMaxRegistration = 4096;

FILE* g_log = stderr;
pid_t g_parent = 0;

void logLine(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
void logLine(const char* fmt, ...) {
  char text[1024];
  va_list args;
  va_start(args, fmt);
  vsnprintf(text, sizeof text, fmt, args);
  va_end(args);
  fprintf(g_log, "qvdmvevent[%d]: %s\n", static_cast<int>(getpid()), text);
  fflush(g_log);
}

bool parentGone() { return getppid() != g_parent; }

// Settles which process is the collector: the one QVD_COLLECTOR_PID names
// (the collector sets it for the programs it starts), else the parent at
// start.  The relay is then its child for as long as the collector lives;
// when the collector ended before this point, the relay was handed to
// another parent already, and parentGone() is true at once.  The death
// signal ends the relay even while it is blocked somewhere.
void watchCollector() {
  g_parent = getppid();
  if (const char* text = getenv("QVD_COLLECTOR_PID")) {
    long pid = atol(text);
    if (pid > 0) g_parent = static_cast<pid_t>(pid);
  }
  prctl(PR_SET_PDEATHSIG, SIGTERM);
}

void pauseMs(long ms) {
  struct timespec t = {ms / 1000, (ms % 1000) * 1000000L};
  nanosleep(&t, nullptr);
}

bool writeAll(int fd, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

// \xNN, \\, \t, \n and \r decoded; other text as it is.
std::string unescape(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\' || i + 1 == text.size()) {
      out.push_back(text[i]);
      continue;
    }
    char c = text[++i];
    if (c == 'x' && i + 2 < text.size() + 0 && isxdigit(static_cast<unsigned char>(text[i + 1])) &&
        isxdigit(static_cast<unsigned char>(text[i + 2]))) {
      out.push_back(static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16)));
      i += 2;
    } else if (c == 't') {
      out.push_back('\t');
    } else if (c == 'n') {
      out.push_back('\n');
    } else if (c == 'r') {
      out.push_back('\r');
    } else {
      out.push_back(c);
    }
  }
  return out;
}

// The listening socket at host:port, or -1.  The port may still be held
// for a moment by a relay that just ended: binding is retried for a while.
int listenAt(const char* host, int port) {
  struct sockaddr_in address;
  memset(&address, 0, sizeof address);
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  if (inet_pton(AF_INET, host, &address.sin_addr) != 1) {
    struct addrinfo hints;
    memset(&hints, 0, sizeof hints);
    hints.ai_family = AF_INET;
    struct addrinfo* found = nullptr;
    if (getaddrinfo(host, nullptr, &hints, &found) != 0 || found == nullptr) {
      logLine("cannot resolve the add-in host %s", host);
      return -1;
    }
    address.sin_addr = reinterpret_cast<struct sockaddr_in*>(found->ai_addr)->sin_addr;
    freeaddrinfo(found);
  }
  for (int attempt = 0; attempt < 40; ++attempt) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (bind(fd, reinterpret_cast<struct sockaddr*>(&address), sizeof address) == 0 &&
        listen(fd, 4) == 0) {
      return fd;
    }
    int error = errno;
    close(fd);
    if (error != EADDRINUSE || parentGone()) {
      logLine("cannot listen at %s:%d: %s", host, port, strerror(error));
      return -1;
    }
    pauseMs(250);
  }
  logLine("cannot listen at %s:%d: the port stays in use", host, port);
  return -1;
}

// Waits for one valid registration; stores the collector's port.  False
// when the parent ended meanwhile.
bool takeRegistration(int listener, int* collectorPort) {
  for (;;) {
    struct pollfd ready = {listener, POLLIN, 0};
    int n = poll(&ready, 1, 500);
    if (parentGone()) return false;
    if (n <= 0) continue;
    int fd = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    std::string bytes;
    char buffer[512];
    while (bytes.find(kRS) == std::string::npos && bytes.size() < kMaxRegistration) {
      struct pollfd in = {fd, POLLIN, 0};
      if (poll(&in, 1, 5000) <= 0) break;
      ssize_t got = recv(fd, buffer, sizeof buffer, 0);
      if (got <= 0) break;
      bytes.append(buffer, static_cast<size_t>(got));
    }
    close(fd);
    // "R" US server US port RS
    size_t rs = bytes.find(kRS);
    size_t us1 = bytes.find(kUS);
    size_t us2 = us1 == std::string::npos ? std::string::npos : bytes.find(kUS, us1 + 1);
    if (rs == std::string::npos || bytes[0] != 'R' || us1 != 1 || us2 == std::string::npos ||
        us2 > rs) {
      logLine("invalid registration record (%zu bytes) ignored", bytes.size());
      continue;
    }
    std::string server = bytes.substr(2, us2 - 2);
    std::string port = bytes.substr(us2 + 1, rs - us2 - 1);
    int value = atoi(port.c_str());
    if (value <= 0 || value > 65535) {
      logLine("registration with an invalid port '%s' ignored", port.c_str());
      continue;
    }
    logLine("registered server %s port %d", server.c_str(), value);
    *collectorPort = value;
    return true;
  }
}

int connectLoopback(int port) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  struct sockaddr_in address;
  memset(&address, 0, sizeof address);
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd, reinterpret_cast<struct sockaddr*>(&address), sizeof address) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

// The feed file and how far it was forwarded.
class Feed {
 public:
  explicit Feed(const char* path) : path_(path != nullptr ? path : "") {
    if (path_.empty()) return;
    std::ifstream in(path_ + ".offset");
    long long value = 0;
    if (in >> value && value > 0) offset_ = value;
  }

  // The complete lines appended since the last call.
  std::string newLines() {
    if (path_.empty()) return "";
    int fd = open(path_.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return "";
    struct stat st;
    std::string out;
    if (fstat(fd, &st) == 0 && st.st_size < offset_) offset_ = 0;  // the feed was replaced
    if (lseek(fd, offset_, SEEK_SET) == offset_) {
      char buffer[65536];
      ssize_t n;
      while ((n = read(fd, buffer, sizeof buffer)) > 0) out.append(buffer, static_cast<size_t>(n));
    }
    close(fd);
    size_t last = out.rfind('\n');
    if (last == std::string::npos) return "";
    out.resize(last + 1);
    return out;
  }

  // Marks `bytes` more of the feed as forwarded.
  void advance(size_t bytes) {
    offset_ += static_cast<long long>(bytes);
    std::string temp = path_ + ".offset.tmp";
    {
      std::ofstream out(temp, std::ios::trunc);
      out << offset_ << "\n";
    }
    rename(temp.c_str(), (path_ + ".offset").c_str());
  }

 private:
  std::string path_;
  long long offset_ = 0;
};

// Ends the event connection as a well-behaved relay does: no more to send,
// then wait (at most ten seconds) until the collector has read it all and
// closed its side.  The collector serves a connection only while the relay
// still holds it, so a relay that closed at once could lose what it sent.
void endConnection(int fd) {
  shutdown(fd, SHUT_WR);
  char buffer[256];
  for (int waited = 0; waited < 100; ++waited) {
    struct pollfd ready = {fd, POLLIN, 0};
    if (poll(&ready, 1, 100) > 0 && recv(fd, buffer, sizeof buffer, 0) <= 0) break;
    if (parentGone()) break;
  }
  close(fd);
}

enum class Step { kGoOn, kExit, kLost };

// Handles one feed line (without its line feed).
Step forwardLine(int fd, const std::string& line) {
  if (line.empty() || line[0] == '#') return Step::kGoOn;
  if (line == "!exit") {
    logLine("feed asks the relay to end");
    return Step::kExit;
  }
  if (line.compare(0, 7, "!sleep ") == 0) {
    pauseMs(static_cast<long>(atof(line.c_str() + 7) * 1000));
    return Step::kGoOn;
  }
  std::string bytes;
  if (line.compare(0, 5, "!raw ") == 0) {
    bytes = unescape(line.substr(5));
  } else {
    // SERVER <tab> PRIORITY <tab> MESSAGE
    std::string fields[3];
    size_t from = 0;
    for (int i = 0; i < 3; ++i) {
      size_t tab = i < 2 ? line.find('\t', from) : std::string::npos;
      fields[i] = line.substr(from, tab == std::string::npos ? std::string::npos : tab - from);
      if (tab == std::string::npos) break;
      from = tab + 1;
    }
    bytes = std::string("E") + kUS + fields[0] + kUS + fields[2] + kUS + fields[1] + kRS;
  }
  if (!writeAll(fd, bytes)) {
    logLine("the event connection failed: %s", strerror(errno));
    return Step::kLost;
  }
  logLine("forwarded %zu bytes", bytes.size());
  return Step::kGoOn;
}

// Appends "qvdmvevent[pid] fd N TARGET" for every descriptor open at this
// moment to `path`: what the collector let the relay inherit, which the
// relay then closes (and would otherwise hide from a test).
void recordInheritedDescriptors(const char* path) {
  std::string lines;
  if (DIR* d = opendir("/proc/self/fd")) {
    int own = dirfd(d);
    while (dirent* e = readdir(d)) {
      if (e->d_name[0] == '.' || atoi(e->d_name) == own) continue;
      char target[512];
      std::string link = std::string("/proc/self/fd/") + e->d_name;
      ssize_t n = readlink(link.c_str(), target, sizeof target - 1);
      target[n > 0 ? n : 0] = '\0';
      lines += "qvdmvevent[" + std::to_string(getpid()) + "] fd " + e->d_name + " " + target + "\n";
    }
    closedir(d);
  }
  int out = open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (out < 0) return;
  if (write(out, lines.data(), lines.size()) < 0) {
  }
  close(out);
}

}  // namespace

int main() {
  watchCollector();
  if (const char* fdsPath = getenv("QVD_MVEVENT_FDS")) recordInheritedDescriptors(fdsPath);
  // Descriptors inherited from the collector (its agent connection among
  // them) must not be kept open by the relay.
  for (int fd = 3; fd < 1024; ++fd) close(fd);
  if (const char* logPath = getenv("QVD_MVEVENT_LOG")) {
    if (FILE* f = fopen(logPath, "ae")) g_log = f;
  }
  const char* host = getenv("QVD_MVHOSTNAME");
  const char* portText = getenv("QVD_MVPORT");
  int port = portText != nullptr ? atoi(portText) : 0;
  if (host == nullptr || *host == '\0' || port <= 0 || port > 65535) {
    logLine("QVD_MVHOSTNAME and QVD_MVPORT must name the add-in host and port");
    return 2;
  }
  if (parentGone()) {
    logLine("the collector has ended");
    return 0;
  }
  logLine("started, listening at %s:%d", host, port);
  int listener = listenAt(host, port);
  if (listener < 0) return 1;
  int collectorPort = 0;
  if (!takeRegistration(listener, &collectorPort)) {
    logLine("the collector ended before registering");
    return 0;
  }
  close(listener);
  int fd = connectLoopback(collectorPort);
  if (fd < 0) {
    logLine("cannot connect to the collector at port %d: %s", collectorPort, strerror(errno));
    return 1;
  }
  logLine("connected to the collector at port %d", collectorPort);

  Feed feed(getenv("QVD_MVEVENT_FILE"));
  for (;;) {
    std::string lines = feed.newLines();
    size_t start = 0;
    while (start < lines.size()) {
      size_t end = lines.find('\n', start);
      std::string line = lines.substr(start, end - start);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      Step step = forwardLine(fd, line);
      if (step == Step::kLost) return 1;
      feed.advance(end + 1 - start);
      start = end + 1;
      if (step == Step::kExit) {
        endConnection(fd);
        return 0;
      }
    }
    struct pollfd ready = {fd, POLLIN, 0};
    if (poll(&ready, 1, 100) > 0) {
      char buffer[256];
      ssize_t n = recv(fd, buffer, sizeof buffer, 0);
      if (n <= 0) {
        logLine("the collector closed the event connection");
        return 0;
      }
    }
    if (parentGone()) {
      logLine("the collector has ended");
      return 0;
    }
  }
}
