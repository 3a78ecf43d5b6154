#pragma once
// Text that quillo-cli prints and paths it is given, handled as the bytes they are.

#include <string>
#include <string_view>

namespace quillo::cli {

// The text with everything a terminal would act on made visible: control characters (C0, DEL
// and the C1 range, e.g. ESC that starts a sequence retitling the terminal) and bytes that are not
// UTF-8 (a name from another system) become \xNN (\u00NN for C1); the rest passes as it is.
std::string Printable(std::string_view Text);

// Whether Text is valid UTF-8 (what JSON strings can carry without loss).
bool IsValidUtf8(std::string_view Text);

// Path made absolute against the working folder and cleaned lexically ("//", "." and ".."
// components), without converting its bytes.
std::string AbsolutePath(const std::string& Path);

} // namespace quillo::cli
