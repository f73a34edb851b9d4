// Test support: whether code reads a file through a close-on-exec
// descriptor.  The file is a FIFO, which holds the reader inside its read
// while the test looks at the descriptor's flags in /proc/self/fdinfo, so
// the answer does not depend on timing.  Header only, for the tests of any
// folder that opens files in a process that starts other programs.
#ifndef QVD_SIM_DESCRIPTOR_PROBE_H_
#define QVD_SIM_DESCRIPTOR_PROBE_H_

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>

#include <gtest/gtest.h>

// Makes a FIFO at `fifo`, runs `reader` (which must open and read it) on a
// thread of its own, and returns whether the descriptor it reads through
// is close-on-exec.  Once the descriptor was looked at, the reader gets
// `content` and the end of the file.  `fifo` must not exist yet.
inline bool ReadsCloseOnExec(const std::string& fifo, const std::function<void()>& reader,
                             const std::string& content) {
  EXPECT_EQ(0, mkfifo(fifo.c_str(), 0600)) << fifo;
  std::thread t(reader);
  // Returns once the reader has the FIFO open.
  int writer = open(fifo.c_str(), O_WRONLY | O_CLOEXEC);
  EXPECT_GE(writer, 0);
  long flags = -1;
  for (int attempt = 0; attempt < 1000 && flags < 0; ++attempt) {
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
      std::error_code ec;
      int fd = std::atoi(entry.path().filename().c_str());
      if (fd == writer || std::filesystem::read_symlink(entry.path(), ec) != fifo) continue;
      std::ifstream info("/proc/self/fdinfo/" + std::to_string(fd));
      for (std::string line; std::getline(info, line);)
        if (line.rfind("flags:", 0) == 0) flags = std::strtol(line.c_str() + 6, nullptr, 8);
    }
    if (flags < 0) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_GE(flags, 0) << "no reader's descriptor on " << fifo;
  EXPECT_EQ(static_cast<ssize_t>(content.size()), write(writer, content.data(), content.size()));
  close(writer);
  t.join();
  return flags >= 0 && (flags & O_CLOEXEC) != 0;
}

#endif  // QVD_SIM_DESCRIPTOR_PROBE_H_
