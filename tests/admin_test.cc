// What the administrator sees: --help, --version, --check on good and
// broken installations (and that it changes nothing), and the lines a start
// writes beside the fixed ones: the start line, warnings about settings that
// are probably mistakes, the reasons behind failures, and the SIGHUP note.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "e2e_testutil.h"

namespace e2e {
namespace {

namespace fs = std::filesystem;

void writeText(const std::string& path, const std::string& content) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
}

// Runs `program` (default: the built qvdclient) with `args` in exactly the
// environment `env`, in the working directory `workDir` (default: this
// process's), and waits for it.
Outcome runProgram(const Install& install, const std::vector<std::string>& args,
                   const std::map<std::string, std::string>& env, std::string program = "",
                   const std::string& workDir = "") {
  std::vector<std::string> argv = {program.empty() ? builtProgram("qvdclient") : program};
  argv.insert(argv.end(), args.begin(), args.end());
  RunOptions options;
  options.workDir = workDir;
  return e2e::runProgram(install.root(), argv, env, options);
}

// Every file under the installation with its content, for "nothing changed".
std::map<std::string, std::string> snapshot(const Install& install) {
  std::map<std::string, std::string> files;
  for (const auto& entry : fs::recursive_directory_iterator(install.root())) {
    std::string path = entry.path().string();
    files[path] = entry.is_regular_file() ? readFile(path) : "<dir>";
  }
  return files;
}

// A listening socket nobody else knows: whether the collector connected.
class Listener {
 public:
  Listener() {
    fd_ = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    listen(fd_, 4);
    socklen_t len = sizeof addr;
    getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len);
    port_ = ntohs(addr.sin_port);
  }
  ~Listener() { close(fd_); }
  std::string port() const { return std::to_string(port_); }
  bool connected() const {
    int peer = accept(fd_, nullptr, nullptr);
    if (peer < 0) return false;
    close(peer);
    return true;
  }

 private:
  int fd_ = -1;
  int port_ = 0;
};

TEST(AdminOptions, HelpAndVersionNeedNoConfiguration) {
  Install install;
  // Even with a trace file configured, the answer goes to standard output.
  std::map<std::string, std::string> env = {{"QVD_TRACE_FILE", install.traceFile()}};
  for (const char* option : {"--help", "-h"}) {
    Outcome run = runProgram(install, {option}, env);
    EXPECT_EQ(0, run.status) << option;
    EXPECT_TRUE(run.has("Usage: qvdclient [--help | --version | --check]")) << run.out;
    EXPECT_TRUE(run.has("--check")) << option;
    EXPECT_FALSE(run.has("must be provided")) << option;
  }
  Outcome run = runProgram(install, {"--version"}, env);
  EXPECT_EQ(0, run.status);
  ASSERT_EQ(0u, run.out.find("qvdclient ")) << run.out;
  std::string version = run.out.substr(10, run.out.find('\n') - 10);
  EXPECT_FALSE(version.empty());
  EXPECT_EQ(std::string::npos, version.find(' ')) << version;
  std::string library = fs::canonical(builtBinDir() + "/libvaxel.so").string();
  EXPECT_TRUE(run.has("libvaxel: " + library + " (simulated Velora server")) << run.out;
  EXPECT_TRUE(run.err.empty()) << run.err;
  EXPECT_FALSE(fs::exists(install.traceFile()));

  // An argument without a dash still goes to the server runtime: the
  // collector starts (and here stops for want of settings).
  run = runProgram(install, {"=/opt/velora/vaxel.ini"}, env);
  EXPECT_EQ(0, run.status);
  std::string trace = readFile(install.traceFile());
  EXPECT_NE(std::string::npos,
            trace.find("qvdclient " + version + " starting; libvaxel: " + library))
      << trace;
  EXPECT_NE(std::string::npos, trace.find("Velora Server Name must be provided in the "
                                          "environment(QVD_SERVER), exiting..."));
}

// A mistyped or combined option must not become a real start: that would
// switch vaxel.ini, write the status file and template, and end with 0,
// which reads like a passed check.
TEST(AdminOptions, AnyOtherDashedCommandLineIsAUsageErrorThatTouchesNothing) {
  Install install;
  writeText(install.iniDir() + "/vaxel.ini", "[Vaxel]\nTRANSLOG_STATUS=1\n");
  // Without CP_PORT: a start would stop at the agent port, after vaxel.ini,
  // the status file and the template.
  auto env = install.env();
  auto before = snapshot(install);
  const std::vector<std::vector<std::string>> commands = {
      {"--check", "-v"}, {"--help", "--version"}, {"--version", "x"}, {"-V"}, {"--verbose"},
      {"-"},  {"extra", "--check"}, {"-h", "-h"}};
  for (const auto& args : commands) {
    std::string shown;
    for (const std::string& a : args) shown += a + " ";
    Outcome run = runProgram(install, args, env);
    EXPECT_EQ(2, run.status) << shown << run.out << run.err;
    EXPECT_TRUE(run.out.empty()) << shown << run.out;
    EXPECT_TRUE(run.errHas("\nUsage: qvdclient [--help | --version | --check]\n")) << shown << run.err;
    EXPECT_EQ(before, snapshot(install)) << shown;
  }
  Outcome run = runProgram(install, {"-V"}, env);
  EXPECT_TRUE(run.errHas("qvdclient: unknown option -V\n")) << run.err;
  run = runProgram(install, {"--check", "-v"}, env);
  EXPECT_TRUE(run.errHas("qvdclient: --check takes no other arguments\n")) << run.err;
}

TEST(AdminOptions, CopiedBinaryFindsNoLibraryOfTheBuildTree) {
  Install install;
  std::string alone = install.root() + "/alone";
  std::string beside = install.root() + "/beside";
  fs::create_directories(alone);
  fs::create_directories(beside);
  fs::copy_file(builtBinDir() + "/qvdclient", alone + "/qvdclient");
  fs::copy_file(builtBinDir() + "/qvdclient", beside + "/qvdclient");
  fs::copy_file(builtBinDir() + "/libvaxel.so", beside + "/libvaxel.so");
  // Alone, the dynamic linker finds no libvaxel.so (status 127), rather
  // than the simulator of this build tree.
  Outcome run = runProgram(install, {"--version"}, {}, alone + "/qvdclient");
  EXPECT_EQ(127, run.status) << run.out << run.err;
  EXPECT_TRUE(run.errHas("libvaxel.so")) << run.err;
  // Nor one in the caller's working directory: started from a folder that
  // holds a libvaxel.so (the build's own folder, say), it still finds none.
  run = runProgram(install, {"--version"}, {}, alone + "/qvdclient", beside);
  EXPECT_EQ(127, run.status) << run.out << run.err;
  // Beside a library, that one is used and named.
  run = runProgram(install, {"--version"}, {}, beside + "/qvdclient");
  EXPECT_EQ(0, run.status) << run.err;
  EXPECT_TRUE(run.has("libvaxel: " + fs::canonical(beside).string() + "/libvaxel.so")) << run.out;
}

TEST(ConfigCheck, GoodSetupGetsThroughAndNothingIsTouched) {
  Install install;
  writeText(install.iniDir() + "/vaxel.ini",
            "[Vaxel]\nTRANSLOG_STATUS=1\nPREVIOUS_TRANSLOG_STATUS=1\n");
  writeText(install.statusFile(), "1\n2\n");
  writeText(install.binDir() + "/qvdtbl_" + install.instance() + ".out", "earlier template\n");
  writeText(install.binDir() + "/qvdtbl.in", "# mine\nVelora_MAIL[Dead][1]=\"mail.hold\\t\"\n");
  Listener agent;
  auto env = install.env();
  env["CP_PORT"] = agent.port();
  env["VAXEL_SIM_LOG"] = install.root() + "/calls.log";
  env["QVD_LOG_VDB_MONITOR"] = "on";
  auto before = snapshot(install);

  Outcome run = runProgram(install, {"--check"}, env);
  EXPECT_EQ(0, run.status) << run.out;
  EXPECT_TRUE(run.has("0 problems, 0 warnings: start-up would get through")) << run.out;
  EXPECT_TRUE(run.has("ok       QVD_SERVER: srv1/acme")) << run.out;
  EXPECT_TRUE(run.has("transaction log on")) << run.out;
  EXPECT_TRUE(run.has("qvdtbl.in: 1 overrides")) << run.out;
  EXPECT_TRUE(run.has("ok       QVD_LOG_VDB_MONITOR: on: the Velora_Replication table is on"))
      << run.out;
  EXPECT_TRUE(run.has("note     libvaxel: ")) << run.out;

  // No file written or changed (vaxel.ini, status file, template, backups,
  // the trace file, the simulator's call log: no server API call at all),
  // and no agent connection.
  EXPECT_EQ(before, snapshot(install));
  EXPECT_FALSE(agent.connected());

  // Without CP_PORT (the agent's to set) the check still passes, with a note.
  env.erase("CP_PORT");
  run = runProgram(install, {"--check"}, env);
  EXPECT_EQ(0, run.status) << run.out;
  EXPECT_TRUE(run.has("note     CP_PORT: not set")) << run.out;
}

TEST(ConfigCheck, BrokenSetupReportsEveryProblemAtOnce) {
  Install install;
  writeText(install.iniDir() + "/vaxel.ini", "[Vaxel]\nTRANSLOG_STATUS=1\n");
  fs::remove_all(install.home() + "/config");
  unlink((install.binDir() + "/qvdstart.sh").c_str());
  writeText(install.statusFile(), "0\n8\n");
  writeText(install.binDir() + "/qvdtbl_" + install.instance() + ".in",
            "Velora_MAIL[Dead][1]=\"mail.hold\\t\"\n# comment\nVelora_Tasks[X][1]=\"y\"\n\n");
  auto env = install.env();
  env.erase("QVD_SERVER");
  env["QVD_CHECK_DB_INTERVAL"] = "3600";
  env["QVD_CHECK_DB_VIEW_CONFIG_FILE"] = install.root() + "/no-such-views.cfg";
  env["QVD_MVPORT"] = "abc";
  env["CP_PORT"] = "xyz";
  env["QVD_LOG_VDB_MONITOR"] = "yes";
  env["QVD_PING_INTERVALL"] = "60";
  env["qvd_server"] = "srv1/acme";
  env["QVD_PING_INTERVAL"] = "10";
  env["QVD_TRACE"] = "error,Debug";
  auto before = snapshot(install);

  Outcome run = runProgram(install, {"--check"}, env);
  EXPECT_EQ(1, run.status) << run.out;
  const char* expected[] = {
      "problem  QVD_SERVER: not set",
      "problem  lock file: ",
      "problem  backup directory: ",
      "problem  QVD_CHECK_DB_INCLUDE_PATH: not set (or none) while the database check is on",
      "problem  QVD_CHECK_DB_VIEW_CONFIG_FILE: ",
      "no-such-views.cfg cannot be read (No such file or directory)",
      "problem  QVD_MVPORT: \"abc\" is not a port number",
      "problem  CP_PORT: \"xyz\" is not a port number",
      "warning  QVD_PING_INTERVAL: \"10\" reads as 10, below 30; 30 is used",
      "warning  QVD_LOG_VDB_MONITOR: \"yes\" is neither ON nor OFF: the Velora_Replication table "
      "stays off",
      "warning  QVD_PING_INTERVALL: is not a setting of the collector and is ignored; did you mean "
      "QVD_PING_INTERVAL?",
      "warning  qvd_server: is not a setting of the collector and is ignored; did you mean "
      "QVD_SERVER?",
      "warning  QVD_TRACE: \"Debug\" in QVD_TRACE is not a trace level",
      "7 problems, 5 warnings: start-up would stop",
  };
  for (const char* line : expected) EXPECT_TRUE(run.has(line)) << line << "\n" << run.out;
  EXPECT_EQ(before, snapshot(install));

  // The keyword file is read only once the required names are there: its
  // bad lines come with their line numbers.
  env["QVD_SERVER"] = "CN=srv1";
  run = runProgram(install, {"--check"}, env);
  EXPECT_EQ(1, run.status);
  EXPECT_TRUE(run.has("warning  QVD_SERVER: \"CN=srv1\" has CN= but no O=")) << run.out;
  EXPECT_TRUE(run.has("1 override taken, 2 bad lines skipped (lines 3, 4)")) << run.out;
  EXPECT_TRUE(run.has("line 3: qvdtbl.in error using table name, not found: Velora_Tasks"))
      << run.out;
  EXPECT_TRUE(run.has("line 4: qvdtbl.in scan error for table name with line: ")) << run.out;
  EXPECT_EQ(before, snapshot(install));
}

TEST(ConfigCheck, PortsPathsInstanceNameAndRelay) {
  Install install;
  auto env = install.env();
  env["QVD_MVPORT"] = "7000";
  env["QVD_MVHOSTNAME"] = "127.0.0.1";
  env["CP_PORT"] = "80abc";
  auto before = snapshot(install);
  Outcome run = runProgram(install, {"--check"}, env);
  EXPECT_EQ(1, run.status) << run.out;
  EXPECT_TRUE(run.has("problem  CP_PORT: \"80abc\" is not a port number: start-up would read it "
                      "as 80"))
      << run.out;
  EXPECT_TRUE(run.has("problem  add-in relay: " + install.binDir() +
                      "/qvdmvevent: No such file or directory; with QVD_MVPORT and QVD_MVHOSTNAME "
                      "set"))
      << run.out;

  // A relay that cannot be run, port 0, relative paths, and an instance
  // name that would put the collector's files elsewhere.
  writeText(install.binDir() + "/qvdmvevent", "#!/bin/sh\n");
  chmod((install.binDir() + "/qvdmvevent").c_str(), 0644);
  env["CP_PORT"] = "0";
  env["HALCYONHOME"] = "home";
  env["QVD_VAXELINIPATH"] = "./ini";
  env["QVD_INSTANCE_NAME"] = "../../etc/inst1";
  before = snapshot(install);
  run = runProgram(install, {"--check"}, env);
  EXPECT_EQ(1, run.status) << run.out;
  for (const char* line : {
           "problem  CP_PORT: \"0\" is no port an agent can listen on",
           "warning  HALCYONHOME: \"home\" is not an absolute path",
           "warning  QVD_VAXELINIPATH: \"./ini\" is not an absolute path",
           "problem  QVD_INSTANCE_NAME: \"../../etc/inst1\" contains '/'",
       })
    EXPECT_TRUE(run.has(line)) << line << "\n" << run.out;
  EXPECT_EQ(before, snapshot(install));

  // Start-up itself refuses the instance name before it touches anything.
  env = install.env();
  env["QVD_INSTANCE_NAME"] = "../inst1";
  run = runProgram(install, {}, env);
  EXPECT_EQ(0, run.status);
  EXPECT_NE(std::string::npos,
            readFile(install.traceFile())
                .find("Instance name QVD_INSTANCE_NAME(../inst1) must not contain '/'"))
      << readFile(install.traceFile());
  EXPECT_EQ(std::string::npos, readFile(install.traceFile()).find("VxInitRuntime: initing"));

  // The relay in place and executable: fine.
  chmod((install.binDir() + "/qvdmvevent").c_str(), 0755);
  env = install.env();
  env["QVD_MVPORT"] = "7000";
  env["QVD_MVHOSTNAME"] = "127.0.0.1";
  env["CP_PORT"] = "4321";
  run = runProgram(install, {"--check"}, env);
  EXPECT_EQ(0, run.status) << run.out;
  EXPECT_TRUE(run.has("ok       add-in relay: " + install.binDir() + "/qvdmvevent")) << run.out;
}

TEST(ConfigCheck, TheAgentLinksOwnVariablesAsTheLinkReadsThem) {
  Install install;
  auto env = install.env();
  env["CP_PORT"] = "4321";
  struct Case {
    const char* size;
    const char* timeout;
    std::vector<std::string> lines;
    int status;
  };
  const Case cases[] = {
      {"8192", "45", {"ok       CDP_CPCI_INITIAL_SIZE: 8192 bytes", "ok       CDP_CPCI_SEND_TIMEOUT: 45 seconds"}, 0},
      {"100", "0",
       {"warning  CDP_CPCI_INITIAL_SIZE: \"100\" reads as 100, below 256; the agent link uses 256",
        "warning  CDP_CPCI_SEND_TIMEOUT: \"0\" reads as 0, not 1 to 86400 seconds: the agent link "
        "says so in its trace and gives an agent that takes nothing 30 seconds"},
       0},
      {"16384k", "45s",
       {"warning  CDP_CPCI_INITIAL_SIZE: \"16384k\" reads as 16384 (only the leading digits count)",
        "warning  CDP_CPCI_SEND_TIMEOUT: \"45s\" reads as 45 seconds (only the leading digits count)"},
       0},
      {"big", "a day",
       {"warning  CDP_CPCI_INITIAL_SIZE: \"big\" is not a number: the agent link reads it as 0",
        "warning  CDP_CPCI_SEND_TIMEOUT: \"a day\" is not a number, not 1 to 86400 seconds"},
       0},
      {"1073741824", "86401",
       {"warning  CDP_CPCI_INITIAL_SIZE: \"1073741824\" bytes for each table's answer buffer, larger "
        "than any answer an agent accepts (64 MiB): the registration takes up to 41984 MiB",
        "warning  CDP_CPCI_SEND_TIMEOUT: \"86401\" reads as 86401, not 1 to 86400 seconds"},
       0},
      // Beyond what a buffer holds, however it is written: every answer
      // would fail.
      {"2147483647", "86400", {"problem  CDP_CPCI_INITIAL_SIZE: \"2147483647\" reads as 2147483647 bytes, "
                               "more than an answer buffer can hold (2147483646)",
                               "ok       CDP_CPCI_SEND_TIMEOUT: 86400 seconds"}, 1},
      {"99999999999999999999", "1",
       {"problem  CDP_CPCI_INITIAL_SIZE: \"99999999999999999999\" reads as 9223372036854775807 bytes"}, 1},
  };
  for (const Case& c : cases) {
    env["CDP_CPCI_INITIAL_SIZE"] = c.size;
    env["CDP_CPCI_SEND_TIMEOUT"] = c.timeout;
    Outcome run = runProgram(install, {"--check"}, env);
    EXPECT_EQ(c.status, run.status) << run.out;
    for (const std::string& line : c.lines) EXPECT_TRUE(run.has(line)) << line << "\n" << run.out;
  }
  // Set but empty counts as not set, for the check and the link alike.
  env["CDP_CPCI_INITIAL_SIZE"] = "";
  env["CDP_CPCI_SEND_TIMEOUT"] = "";
  Outcome run = runProgram(install, {"--check"}, env);
  EXPECT_EQ(0, run.status) << run.out;
  EXPECT_FALSE(run.has("CDP_CPCI")) << run.out;

  // The link itself: what it refuses it says, and an empty value is no
  // value; a size beyond a buffer fails every answer, as the check says.
  for (const char* timeout : {"a day", ""}) {
    auto linkEnv = install.env();
    linkEnv["CDP_CPCI_SEND_TIMEOUT"] = timeout;
    linkEnv["CDP_CPCI_INITIAL_SIZE"] = "";
    Session s = runSession(install, linkEnv, {"registration", "request Velora_Server", "expect all"});
    ASSERT_EQ(30, s.collectorStatus()) << s.problems();
    EXPECT_EQ(1u, s.answers("Velora_Server").size()) << s.problems();
    EXPECT_EQ(std::string(timeout).empty() ? std::string::npos : s.trace.find("CDP_CPCI_SEND_TIMEOUT="),
              s.trace.find("CDP_CPCI_SEND_TIMEOUT=a day is not 1 to 86400 seconds; 30 is used"))
        << s.trace;
  }
  auto linkEnv = install.env();
  linkEnv["CDP_CPCI_INITIAL_SIZE"] = "99999999999999999999";
  Session s = runSession(install, linkEnv, {"registration", "request Velora_Server id=7", "expect-none 2"});
  ASSERT_EQ(30, s.collectorStatus()) << s.problems();
  EXPECT_TRUE(s.traced("cp_SendData(7) for Velora_Server failed: -10")) << s.trace;
}

// A collector that stops before it needs an agent: CP_PORT is left out, so
// start-up ends after the keyword tables.
Outcome startWithoutAgent(const Install& install, std::map<std::string, std::string> env) {
  env.erase("QVD_TRACE_FILE");
  env.erase("CP_PORT");
  return runProgram(install, {}, env);
}

TEST(StartNotes, StartLineAndSettingWarnings) {
  Install install;
  writeText(install.binDir() + "/qvdtbl.in",
            "Velora_MAIL[Dead][1]=\"mail.hold\\t\"\nVelora_MAIL[Hold]\n# "
            "note\nVelora_LDAP[X][0]=\"a\"\n");
  auto env = install.env();
  env["QVD_TRACE"] = "ERROR,core=Detail,bogus";
  env["QVD_CHECK_DB_INTERVALL"] = "3600";
  Outcome run = startWithoutAgent(install, env);
  EXPECT_EQ(0, run.status);
  std::string library = fs::canonical(builtBinDir() + "/libvaxel.so").string();
  EXPECT_TRUE(run.errHas("core/startup ALWAYS qvdclient ")) << run.err;
  EXPECT_TRUE(
      run.errHas(" starting; libvaxel: " + library +
                 " (simulated Velora server, model from VAXEL_SIM_DIR; not a real server)"));
  EXPECT_TRUE(
      run.errHas("Warning: QVD_CHECK_DB_INTERVALL is not a setting of the collector and is "
                 "ignored; did you mean QVD_CHECK_DB_INTERVAL?"));
  EXPECT_TRUE(run.errHas("Warning: unknown trace level setting \"bogus\" in QVD_TRACE ignored"));
  // Level words in any letter case: core's detail lines are written.
  EXPECT_TRUE(run.errHas("core/startup DETAIL program called: ")) << run.err;
  EXPECT_FALSE(run.errHas("\"ERROR\"")) << run.err;
  EXPECT_TRUE(run.errHas("keyword override file " + install.binDir() +
                         "/qvdtbl.in applied: 2 overrides taken, 1 bad line skipped (line 2)"))
      << run.err;
  EXPECT_TRUE(run.errHas("Agent Port must be provided in the environment(CP_PORT), exiting..."));

  // A trace file that cannot be opened: lines go to standard error, with
  // the reason.
  env = install.env();
  env.erase("QVD_SERVER");
  env["QVD_TRACE_FILE"] = install.root() + "/missing/dir/trace.log";
  run = runProgram(install, {}, env);
  EXPECT_EQ(0, run.status);
  EXPECT_TRUE(run.errHas("Warning: trace file " + install.root() +
                         "/missing/dir/trace.log cannot be opened (No such file or directory); "
                         "trace lines go to standard error"))
      << run.err;
  EXPECT_TRUE(
      run.errHas("Velora Server Name must be provided in the environment(QVD_SERVER), exiting..."));
}

TEST(StartNotes, OverrideFileThatCannotBeReadIsNamedWithTheReason) {
  Install install;
  // A link to itself exists but cannot be opened, whoever runs the test.
  std::string host = install.binDir() + "/qvdtbl.in";
  ASSERT_EQ(0, symlink(host.c_str(), host.c_str()));
  writeText(install.binDir() + "/qvdtbl_" + install.instance() + ".in",
            "Velora_MAIL[Dead][1]=\"x\"\n");
  Outcome run = startWithoutAgent(install, install.env());
  EXPECT_TRUE(run.errHas("keyword override file " + host +
                         " cannot be read (Too many levels of symbolic links); it is skipped"))
      << run.err;
  // As before, the instance file is read instead.
  EXPECT_TRUE(run.errHas("qvdtbl_inst1.in applied: 1 override taken, no bad lines")) << run.err;
}

TEST(StartNotes, FailuresComeWithTheirReasons) {
  Install install;
  auto env = install.env();
  env.erase("QVD_TRACE_FILE");

  unlink((install.binDir() + "/qvdstart.sh").c_str());
  Outcome run = runProgram(install, {}, env);
  EXPECT_EQ(0, run.status);
  std::string lock = install.binDir() + "/qvdstart.sh";
  EXPECT_TRUE(run.errHas("Error: failed to open file " + lock + ", and error code is -1."));
  EXPECT_TRUE(run.errHas("The lock file " + lock +
                         " cannot be opened for reading and writing: No such file or directory."))
      << run.err;
  writeText(lock, "#!/bin/sh\n");

  env["QVD_VAXELINIPATH"] = install.root() + "/nowhere";
  run = runProgram(install, {}, env);
  EXPECT_TRUE(run.errHas("Error: can not open file " + install.root() + "/nowhere/vaxel.ini"));
  EXPECT_TRUE(run.errHas(install.root() +
                         "/nowhere/vaxel.ini cannot be opened for reading: No such "
                         "file or directory. Check that QVD_VAXELINIPATH names the directory"))
      << run.err;

  // With the transaction log on, the backup needs <home>/config.
  env = install.env();
  env.erase("QVD_TRACE_FILE");
  writeText(install.iniDir() + "/vaxel.ini", "TRANSLOG_STATUS=1\n");
  fs::remove_all(install.home() + "/config");
  run = runProgram(install, {}, env);
  EXPECT_TRUE(run.errHas("Error: failed to copy vaxel.ini to "));
  EXPECT_TRUE(run.errHas("No new file can be created in directory " + install.home() +
                         "/config: No such file or directory."))
      << run.err;
  EXPECT_EQ("TRANSLOG_STATUS=1\n", readFile(install.iniDir() + "/vaxel.ini"));
  fs::create_directories(install.home() + "/config");

  install.writeModel("server.json", R"({"initRuntime": 405})");
  run = runProgram(install, {}, env);
  EXPECT_TRUE(run.errHas("Velora VxInitRuntime failed with rc: 405\n"));
  EXPECT_TRUE(
      run.errHas("core/startup ALWAYS VxInitRuntime status 405: The server runtime has not "
                 "been initialized"))
      << run.err;
}

// The pid of the collector agentsim started, from its JSON report.
int collectorPid(const Install& install) {
  for (int i = 0; i < 200; ++i) {
    for (const auto& entry : fs::directory_iterator(install.root())) {
      if (entry.path().extension() != ".json") continue;
      std::string report = readFile(entry.path().string());
      size_t at = report.find("\"type\":\"started\"");
      if (at == std::string::npos) continue;
      size_t start = report.rfind('{', at);
      Json started =
          Json::parse(report.substr(start, report.find('\n', at) - start), nullptr, false);
      if (!started.is_discarded() && started.contains("pid")) return started["pid"].get<int>();
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return -1;
}

TEST(StartNotes, SwitchValuesAndTraceReload) {
  Install install;
  std::string control = install.root() + "/trace.control";
  auto env = install.env();
  env["QVD_LOG_VDB_MONITOR"] = "true";
  env["QVD_VELORA_GROUP_MONITOR"] = "Off";
  env["QVD_TRACE"] = "error";
  env["QVD_TRACE_CONTROL"] = control;
  Session session;
  std::thread agent([&] { session = runSession(install, env, {"registration", "sleep 3"}); });
  int pid = collectorPid(install);
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  writeText(control, "error,core/availability=DETAIL,nonsense\n");
  if (pid > 0) kill(pid, SIGHUP);
  agent.join();
  ASSERT_GT(pid, 0);
  EXPECT_EQ(30, session.collectorStatus()) << session.problems();
  EXPECT_TRUE(session.traced("QVD_LOG_VDB_MONITOR(true) found.  "));
  EXPECT_TRUE(
      session.traced("Warning: QVD_LOG_VDB_MONITOR value \"true\" is neither ON nor OFF: the "
                     "Velora_Replication table stays off."));
  EXPECT_FALSE(session.traced("QVD_VELORA_GROUP_MONITOR value")) << "Off is a valid switch value";
  EXPECT_TRUE(
      session.traced("core/notes ALWAYS SIGHUP: trace settings reloaded; levels now in force: "
                     "error,core/availability=detail (from the control file " +
                     control + ")"))
      << session.trace;
  EXPECT_TRUE(
      session.traced("Warning: unknown trace level setting \"nonsense\" in the control file " +
                     control + " ignored"));
}

}  // namespace
}  // namespace e2e

namespace e2e {
namespace {

std::string sourceDir() {
  const char* dir = getenv("QVD_SOURCE_DIR");
  return dir != nullptr ? dir : ".";
}

std::string replaceAll(std::string text, const std::string& from, const std::string& to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
  return text;
}

// Values that a shell would run, expand or split: the start script reads
// them as data, exactly as agentsim --env-file does.
TEST(Examples, StartScriptReadsTheEnvironmentFileAsDataLikeAgentsim) {
  Install install;
  std::string dir = install.root() + "/bin";
  fs::create_directories(dir);
  fs::copy_file(sourceDir() + "/examples/qvdstart.sh", dir + "/qvdstart.sh");
  // In the collector's place, a program that prints its environment.
  fs::create_symlink("/usr/bin/env", dir + "/qvdclient");
  std::string pwned = install.root() + "/pwned";
  const std::string file =
      "# comment\n"
      "   # indented comment\n"
      " \t \n"
      "QVD_CHECK_DB_INCLUDE_PATH=names.vdb;mail/alice.vdb\n"
      "QVD_CHECK_DB_EXCLUDE_PATH=mail/*\n"
      "DOLLAR=$HOME ${PATH} $(touch " + pwned + ") `touch " + pwned + "`\n"
      "QUOTED=\"a b\"\n"
      "SINGLE='x'\n"
      "SPACED=  two  words  \n"
      "BACKSLASH=a\\tb\\\\c\n"
      "CRLF=v\r\n"
      "EQUALS=a=b\n"
      "EMPTY=\n"
      "  INDENTED=x\n"
      "LAST=no line feed";
  std::string envFile = install.root() + "/tricky.env";
  writeText(envFile, file);
  const std::map<std::string, std::string> expected = {
      {"QVD_CHECK_DB_INCLUDE_PATH", "names.vdb;mail/alice.vdb"},
      {"QVD_CHECK_DB_EXCLUDE_PATH", "mail/*"},
      {"DOLLAR", "$HOME ${PATH} $(touch " + pwned + ") `touch " + pwned + "`"},
      {"QUOTED", "\"a b\""},
      {"SINGLE", "'x'"},
      {"SPACED", "  two  words  "},
      {"BACKSLASH", "a\\tb\\\\c"},
      {"CRLF", "v"},
      {"EQUALS", "a=b"},
      {"EMPTY", ""},
      {"  INDENTED", "x"},
      {"LAST", "no line feed"},
  };
  auto parse = [](const std::string& listing) {
    std::map<std::string, std::string> env;
    std::istringstream in(listing);
    for (std::string line; std::getline(in, line);) {
      size_t eq = line.find('=');
      if (eq != std::string::npos) env[line.substr(0, eq)] = line.substr(eq + 1);
    }
    return env;
  };
  std::map<std::string, std::string> base = {{"PATH", "/usr/bin:/bin"}};
  Outcome script = runProgram(install, {dir + "/qvdstart.sh", envFile}, base, "/bin/sh");
  ASSERT_EQ(0, script.status) << script.err;
  std::string output = install.root() + "/agentsim.out";
  Outcome agentsim = runProgram(install,
                                {"--clean-env", "--env-file", envFile, "--collector-output", output,
                                 "--accept-timeout", "2", "--", dir + "/qvdclient"},
                                base, builtBinDir() + "/agentsim");
  std::map<std::string, std::string> byScript = parse(script.out);
  std::map<std::string, std::string> byAgentsim = parse(readFile(output));
  for (const auto& [name, value] : expected) {
    EXPECT_EQ(value, byScript[name]) << name;
    EXPECT_EQ(value, byAgentsim[name]) << name;
  }
  EXPECT_FALSE(fs::exists(pwned));

  // A line that is not NAME=VALUE stops both, naming the line.
  writeText(envFile, "A=1\nnot a setting\n");
  script = runProgram(install, {dir + "/qvdstart.sh", envFile}, base, "/bin/sh");
  EXPECT_EQ(2, script.status);
  EXPECT_TRUE(script.errHas(envFile + ":2: expected NAME=VALUE")) << script.err;
  agentsim = runProgram(install, {"--env-file", envFile, "--", dir + "/qvdclient"}, base,
                        builtBinDir() + "/agentsim");
  EXPECT_NE(0, agentsim.status);
  EXPECT_TRUE(agentsim.errHas(envFile + ":2: expected NAME=VALUE")) << agentsim.err;

  // A second argument other than --check is a usage error too.
  script = runProgram(install, {dir + "/qvdstart.sh", envFile, "-v"}, base, "/bin/sh");
  EXPECT_EQ(2, script.status);
  EXPECT_TRUE(script.errHas("usage: qvdstart.sh ENV_FILE [--check]")) << script.err;
}

TEST(Examples, StartScriptChecksAndStartsTheCollector) {
  Install install;
  // The sample, filled in for this installation, and the start script in
  // its place in the install tree (where it is also the lock file).
  std::string text = readFile(sourceDir() + "/examples/qvdclient.env");
  text = replaceAll(text, "/tmp/qvd-walk/velora", install.iniDir());
  text = replaceAll(text, "/tmp/qvd-walk/halcyon", install.home());
  text = replaceAll(text, "/tmp/qvd-walk/model", install.modelDir());
  text = replaceAll(text, "/tmp/qvd-walk/qvdclient.trace", install.traceFile());
  std::string envFile = install.root() + "/demo.env";
  writeText(envFile, text);
  std::string script = install.binDir() + "/qvdstart.sh";
  fs::copy_file(sourceDir() + "/examples/qvdstart.sh", script,
                fs::copy_options::overwrite_existing);
  fs::create_symlink(fs::canonical(builtBinDir() + "/qvdclient"), install.binDir() + "/qvdclient");

  std::map<std::string, std::string> env = {{"PATH", "/usr/bin:/bin"}};
  Outcome run = runProgram(install, {script, envFile, "--check"}, env, "/bin/sh");
  EXPECT_EQ(0, run.status) << run.out << run.err;
  EXPECT_TRUE(run.has("0 problems, 0 warnings: start-up would get through")) << run.out;

  run = runProgram(install,
                   {"--env-file", envFile, "--request", "Velora_Server", "--", script, envFile},
                   env, builtBinDir() + "/agentsim");
  EXPECT_TRUE(run.has("Velora_Server id=1 (1 row")) << run.out << run.err;
  EXPECT_TRUE(run.has("collector exited with status 30")) << run.out << run.err;
  EXPECT_NE(std::string::npos,
            readFile(install.traceFile()).find("Velora Server Name QVD_SERVER(srv1/acme) found"));
}

}  // namespace
}  // namespace e2e
