// The window model's wait pointer (platform/ui/wait_cursor.h) on Qt: the application's override
// pointer while the model's count is above 0.
#pragma once

namespace velmora {

void InstallWaitCursorHook();
// Removes the hook and restores the pointer when it was showing.
void RemoveWaitCursorHook();

}  // namespace velmora
