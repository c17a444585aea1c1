// The window model's mouse capture on Qt (platform/ui/window_drag.h): while a model window has
// the capture, an application-wide event filter follows the real pointer, finds the model window
// under it (the widget under the pointer and its parents, up to the first one that shows a model
// window) and reports moves and the left button's release to the model with the point in that
// window's client area; the pointer shows the capture's shape (a drop cursor where the capturing
// window accepts the drop, a "no" cursor elsewhere). Qt's own implicit grab keeps the pointer
// events coming while the button is down, also over other windows of the program.
#pragma once

namespace velmora {

void InstallDragTracker();
void RemoveDragTracker();

}  // namespace velmora
