#pragma once
// Crash-safe replacement of a whole file, for the settings and jobs files: the new content goes
// into a fresh file in the same folder (created with the final mode from the start, so a secret
// is never readable by others), is flushed to disk and renamed over the old one. A crash, a full
// disk or any other failure therefore leaves either the old or the new file, never a torn mix.
// A temporary file that a killed save left behind ("<name>.tmp-XXXXXX", over a minute old) is
// removed by the next save of the same file.

#include <stdexcept>
#include <string>

namespace quillo {

// The file could not be written; what() carries the system's message. The old file is intact.
class EFileWriteError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Replaces Path with Data (mode Mode, e.g. 0600). Raises EFileWriteError.
void WriteFileAtomically(const std::string& Path, const std::string& Data, unsigned Mode = 0600);

} // namespace quillo
