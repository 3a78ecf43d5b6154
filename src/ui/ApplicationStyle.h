#pragma once
// Program-wide look settings that the platform style does not offer directly.

namespace quillo {

// Delay before a tooltip appears, in milliseconds.
inline constexpr int ToolTipDelayMs = 250;

// Wraps the application's current style so that tooltips appear after ToolTipDelayMs. Needs the
// application object; call once, before windows are created.
void InstallApplicationStyle();

} // namespace quillo
