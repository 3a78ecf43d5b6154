#pragma once
// Keeping secrets out of what the engine shows and stores. Error and status texts reach the
// task list, the jobs file, quillo-cli's output and bug reports; a library message or a URL in
// them must never carry the account password or the proxy credentials, neither as they are nor
// in any of the encodings a URL gives them.

#include <string>
#include <vector>

namespace quillo {

// What stands in a text where a secret was.
inline constexpr const char* RedactedText = "*****";

// Text with every occurrence of each secret replaced by RedactedText: the secret as it is, and
// percent-encoded byte by byte (upper- or lower-case hex), or only where a URL needs it (a blank
// as %20 or +). Secrets shorter than three bytes are replaced only in their encoded forms, so
// that a one-letter password does not blank out every word of a message.
std::string RedactSecrets(const std::string& Text, const std::vector<std::string>& Secrets);

// The secrets of the current settings: the account password and the proxy user name and password.
std::vector<std::string> SettingsSecrets();

// RedactSecrets with SettingsSecrets().
std::string RedactSettingsSecrets(const std::string& Text);

} // namespace quillo
