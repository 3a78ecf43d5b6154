#pragma once
// The pictures of the main window: the tool bar's six (32 x 32) and the seven small ones of the
// tree and the list views (16 x 16, "ImageList1"). Each comes from the desktop's freedesktop icon
// theme (Tango where the desktop names none) when the theme has it drawn at the size and pixel
// density it is shown at, and otherwise from a picture of our own drawn as vectors at whatever
// size it is asked for, so no button is ever blank or blurred. User-interface thread only.

#include <QIcon>

namespace quillo {

// Tool-bar pictures by index: 0 Add, 1 Start, 2 Stop, 3 Down, 4 Up, 5 Delete.
constexpr int ToolBarPictureCount = 6;
QIcon ToolBarPicture(int Index);

// Small pictures by index: 0..4 the task states (the value of TJobState), 5 the "Upload Queue"
// node, 6 the "Finished" node.
constexpr int SmallPictureCount = 7;
constexpr int ipUploadQueueNode = 5;
constexpr int ipFinishedNode = 6;
QIcon SmallPicture(int Index);

// Our own picture, whatever the theme holds (tests and the fallback path).
QIcon BuiltInToolBarPicture(int Index);
QIcon BuiltInSmallPicture(int Index);

} // namespace quillo
