// Test support: a model directory in a fresh temporary folder, made the
// simulator's model for the life of the object.
#ifndef QVD_SIM_SIM_TEST_SUPPORT_H_
#define QVD_SIM_SIM_TEST_SUPPORT_H_

#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <string>

#include "sim/vaxel_sim.h"

class TempModel {
 public:
  TempModel() {
    char tmpl[] = "/tmp/vaxelsim-XXXXXX";
    dir_ = mkdtemp(tmpl);
    setenv("VAXEL_SIM_DIR", dir_.c_str(), 1);
    unsetenv("VAXEL_SIM_LOG");
    vaxelsim_reset();
  }
  ~TempModel() {
    std::string cmd = "rm -rf '" + dir_ + "'";
    if (system(cmd.c_str()) != 0) perror("rm");
    unsetenv("VAXEL_SIM_DIR");
    vaxelsim_reset();
  }
  // Replaces a file whole (write beside it, then rename), as a test that
  // changes the server under a running collector would.
  void Write(const std::string& name, const std::string& content) const {
    std::string tmp = dir_ + "/." + name + ".tmp";
    {
      std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
      out << content;
    }
    rename(tmp.c_str(), Path(name).c_str());
  }
  void Remove(const std::string& name) const { unlink(Path(name).c_str()); }
  std::string Path(const std::string& name) const { return dir_ + "/" + name; }
  const std::string& dir() const { return dir_; }

 private:
  std::string dir_;
};

inline std::string ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

#endif  // QVD_SIM_SIM_TEST_SUPPORT_H_
