// The model of the simulated server: the files of the directory named by
// VAXEL_SIM_DIR, re-read whenever they change.
//
// Each accessor compares the file's identity, size and modification time
// with those of the last read (one stat call) and re-reads on a difference,
// so a test may rewrite a file while a collector runs.  A server.json that
// cannot be parsed is reported once (through the report function) and the
// previous model stays in force until the file changes again.  Not
// thread-safe: the simulator's mutex guards the one model.
#ifndef QVD_SIM_MODEL_H_
#define QVD_SIM_MODEL_H_

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "serverapi/vaxel.h"
#include "sim/db_model.h"
#include "sim/sim_time.h"

namespace vaxelsim {

struct ServerReply {
  VxStatus ping = 0;
  int delayMs = 0;
};

struct Fault {
  VxStatus status = 0;
  uint64_t fromCall = 1;  // the first failing call, counted from 1
  uint64_t count = 0;     // failing calls from there on; 0: all
  bool Applies(uint64_t call) const {
    return call >= fromCall && (count == 0 || call < fromCall + count);
  }
};

struct ModelData {
  std::string dataDirectory = "/local/velora/data";
  uint16_t intlFlags = 0;
  std::string thousandsSeparator = ",";
  std::string decimalSeparator = ".";
  std::string dateSeparator = "/";
  std::string timeSeparator = ":";
  enum class Clock { kReal, kFixed, kOffset } clock = Clock::kReal;
  int64_t fixedTicks = 0;
  int64_t offsetSeconds = 0;
  std::map<std::string, ServerReply> servers;  // by NameKey
  bool hasCluster = false;
  std::string clusterName;
  std::vector<std::string> clusterMembers;
  std::map<std::string, Fault> faults;  // by entry point name
  std::map<std::string, int> delays;    // by entry point name: milliseconds per call
  bool terminate = false;
  VxStatus initRuntime = 0;
  VxStatus initThread = 0;
  std::map<unsigned, std::string> messages;  // extra message texts by code
  std::shared_ptr<const DbModel> db = std::make_shared<DbModel>();  // databases, directory

  TextStyle Style() const;
  void FillIntl(VxLocaleFormat* intl) const;
};

// Identity of a file as of one stat call.
struct FileStamp {
  bool exists = false;
  dev_t dev = 0;
  ino_t ino = 0;
  off_t size = 0;
  long mtimeSec = 0;
  long mtimeNsec = 0;
  bool operator==(const FileStamp& o) const {
    return exists == o.exists && dev == o.dev && ino == o.ino && size == o.size &&
           mtimeSec == o.mtimeSec && mtimeNsec == o.mtimeNsec;
  }
  bool operator!=(const FileStamp& o) const { return !(*this == o); }
  static FileStamp Of(const std::string& path);
};

class Model {
 public:
  using Reporter = std::function<void(const std::string&)>;
  explicit Model(Reporter report) : report_(std::move(report)) {}

  // Points the model at a directory ("" for none: all defaults, no
  // statistics).  Forgets everything read so far.
  void SetDirectory(const std::string& dir);
  const std::string& Directory() const { return dir_; }

  // The current server.json content (defaults for absent keys or file).
  // While held, answers the content as last read without looking at the
  // file: one look per entry-point call is enough.
  const ModelData& Data();
  void Hold(bool held) { held_ = held; }
  // The statistics text; null when stats.txt is absent.
  const std::string* Stats();
  // True while a file named "terminate" exists in the directory.
  bool TerminateFilePresent();

  // Parses a server.json text into `out`; problems are appended to
  // `problems`.  False when the text is not a JSON object.
  static bool Parse(const std::string& text, ModelData* out, std::vector<std::string>* problems);

 private:
  Reporter report_;
  std::string dir_;
  bool held_ = false;
  FileStamp jsonStamp_;
  FileStamp badJsonStamp_;
  std::shared_ptr<ModelData> data_ = std::make_shared<ModelData>();
  FileStamp statsStamp_;
  bool haveStats_ = false;
  std::string stats_;
};

}  // namespace vaxelsim

#endif  // QVD_SIM_MODEL_H_
