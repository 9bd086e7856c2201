// quill-terminal-sim: plays the barcode terminal (and the infrared adapter of
// its cradle) on a pty, for the component under test to talk to.
//
//   quill-terminal-sim --scenario FILE [--link PATH] [--log FILE] [--dump FILE]
//                      [--modem-log FILE]
//
// Prints the pty slave's path as its first line of output.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <string>

#include "scenario.h"
#include "server.h"

namespace {

constexpr int kUsageError = 2;

const char kUsage[] =
    "usage: quill-terminal-sim --scenario FILE [--link PATH] [--log FILE] [--dump FILE] "
    "[--modem-log FILE]\n"
    "  --modem-log defaults to $QUILL_MODEM_LOG\n";

struct CommandLine {
  std::string scenarioPath;
  quillsim::ServerOptions server;
};

bool readCommandLine(int argc, char** argv, CommandLine& out) {
  const char* modemLog = std::getenv("QUILL_MODEM_LOG");
  if (modemLog) out.server.modemLogPath = modemLog;
  const std::map<std::string, std::string*> valueOptions = {
      {"--scenario", &out.scenarioPath},       {"--link", &out.server.linkPath},
      {"--log", &out.server.logPath},          {"--dump", &out.server.dumpPath},
      {"--modem-log", &out.server.modemLogPath},
  };
  for (int i = 1; i < argc; ++i) {
    auto option = valueOptions.find(argv[i]);
    if (option == valueOptions.end() || i + 1 == argc) return false;
    *option->second = argv[++i];
  }
  return !out.scenarioPath.empty();
}

}  // namespace

int main(int argc, char** argv) {
  CommandLine commandLine;
  if (!readCommandLine(argc, argv, commandLine)) {
    std::fputs(kUsage, stderr);
    return kUsageError;
  }
  std::ifstream file(commandLine.scenarioPath, std::ios::binary);
  if (!file) {
    std::fprintf(stderr, "quill-terminal-sim: cannot read %s\n", commandLine.scenarioPath.c_str());
    return kUsageError;
  }
  quillsim::ScenarioParse parsed = quillsim::parseScenario(file);
  if (!parsed.scenario) {
    std::fprintf(stderr, "quill-terminal-sim: %s: %s\n", commandLine.scenarioPath.c_str(), parsed.error.c_str());
    return kUsageError;
  }
  quillsim::Server server(std::move(*parsed.scenario), commandLine.server);
  return server.run();
}
