// The changes a soak makes to the simulated server's model while the
// collector runs: the statistics move and the directory's groups come and
// go, so that every table the collector builds sees new data.
//
// The model directory is rewritten in place (each file replaced whole, by
// a rename), so it must be a copy made for the soak.
//
// Thread-safety: none; one thread owns the object.
#ifndef QVD_TOOLS_AGENTSIM_SOAK_MODEL_H_
#define QVD_TOOLS_AGENTSIM_SOAK_MODEL_H_

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace agentsim {

class SoakModel {
 public:
  // Reads the model's stats.txt and server.json as they are now; later
  // changes are made from these.  A file that is absent is left alone.
  // False with *error set when server.json is not a JSON object.
  bool Load(const std::string& dir, std::string* error);

  // Writes change number `n` (1, 2, ...): every whole-number statistic
  // moved up by an amount that depends on n and the line, and on odd n the
  // statistics of one more mail destination; the directory's groups with
  // one group added on odd n, one of the original groups missing on even
  // n.  False with *error set when a file cannot be written.
  bool Change(unsigned long n, std::string* error);

 private:
  std::string dir_;
  bool haveStats_ = false;
  std::vector<std::string> statLines_;
  bool haveServer_ = false;
  nlohmann::json server_;
  std::vector<std::string> groups_;
};

}  // namespace agentsim

#endif  // QVD_TOOLS_AGENTSIM_SOAK_MODEL_H_
