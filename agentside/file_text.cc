#include "agentside/file_text.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace agentside {

bool ReadFileText(const std::string& path, std::string* text) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  std::string content;
  char buf[65536];
  bool ok = true;
  for (;;) {
    ssize_t n = read(fd, buf, sizeof buf);
    if (n > 0) {
      content.append(buf, static_cast<size_t>(n));
    } else if (n == 0) {
      break;
    } else if (errno != EINTR) {
      ok = false;
      break;
    }
  }
  close(fd);
  if (ok) *text = std::move(content);
  return ok;
}

}  // namespace agentside
