#pragma once
// quillo-cli check-language FILE: a check for translators.

#include <string>
#include <vector>

namespace quillo::cli {

// Loads a language file with every report shown (the texts the program would show in its message
// boxes, printed to stdout) and warns about messages the program cannot find because the
// resource strings are not in ascending order. Exit code 0 when nothing was found, 1 when
// something was, 2 for bad usage. Needs neither the queue nor the single-instance lock.
int CmdCheckLanguage(const std::vector<std::string>& Args);

} // namespace quillo::cli
