#pragma once
// The program's command line, read before any window exists so that --help
// and --version work without a display.
//
//   /QORMIX          developer access level (any case, any position)
//   --connect PORT   open PORT once the link panel has listed the ports
//   --lang hu|en     the window's language (default: the locale's,
//                    common/Language.h)
//   --help, -h       usage on stdout
//   --version        version on stdout
//
// Everything else is left alone (the toolkit reads its own options).
#include "Language.h"

#include <optional>
#include <string>
#include <vector>

namespace kv {

struct TCommandLine {
    bool Help = false;
    bool Version = false;
    std::string ConnectPort;
    std::optional<lang::TLanguage> Language; // --lang; none: the locale's
    std::string Error; // a usage error: print it and end with status 2
};

// The arguments without the program path.
TCommandLine ParseCommandLine(const std::vector<std::string>& args);

std::string UsageText(const std::string& program);
// The version line in `translation`'s language.
std::string VersionText(const lang::TTranslation& translation);

} // namespace kv
