#pragma once
// The program's command line, read before any window exists so that --help
// and --version work without a display.
//
//   /QORMIX          developer access level (any case, any position)
//   --connect PORT   open PORT once the link panel has listed the ports
//   --help, -h       usage on stdout
//   --version        version on stdout
//
// Everything else is left alone (the toolkit reads its own options).
#include <string>
#include <vector>

namespace kv {

struct TCommandLine {
    bool Help = false;
    bool Version = false;
    std::string ConnectPort;
    std::string Error; // a usage error: print it and end with status 2
};

// The arguments without the program path.
TCommandLine ParseCommandLine(const std::vector<std::string>& args);

std::string UsageText(const std::string& program);
std::string VersionText();

} // namespace kv
