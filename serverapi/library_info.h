// Which libvaxel the process has bound, for the start-up line and the
// configuration check: the file the dynamic linker loaded and whether it is
// the project's simulated server.  A real server library and the simulator
// export the same server API; the simulator alone also exports
// vaxelsim_identity(), a function outside the server API that names it.
//
// Thread-safety: may be called from any thread; it only reads the
// dynamic linker's tables.
#ifndef QVD_SERVERAPI_LIBRARY_INFO_H_
#define QVD_SERVERAPI_LIBRARY_INFO_H_

#include <string>
#include <vector>

struct LibvaxelInfo {
  std::string path;  // the loaded file (symbolic links resolved); empty when not found
  bool simulated = false;
  std::string identity;  // the simulator's own description when simulated
};

// Describes the library that provides the server API's VxInitRuntime.
LibvaxelInfo libvaxelInfo();

// "/opt/velora/libvaxel.so (Velora server library)", or the same with
// "(simulated Velora server, model from VAXEL_SIM_DIR; not a real server)".
std::string libvaxelDescription(const LibvaxelInfo& info);

// The entry points of the server API (kOrlanAPINames) that the process
// cannot find; empty when the library is complete.
std::vector<std::string> missingOrlanAPI();

#endif  // QVD_SERVERAPI_LIBRARY_INFO_H_
