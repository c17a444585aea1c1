// Window icons.
#include "shell/dialog_ex.h"

#include <filesystem>

#include "core/settings.h"

namespace velmora {

bool SetWindowIconFromImage(CWnd* window, const char* name) {
  if (!window || !name || !*name) return false;
  std::string path = AppOptions().program_dir + "images/" + name;
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec)) return false;
  window->SetIcon(path, 0);
  return true;
}

void SetWindowIconFromResource(CWnd* window, int resource_id) {
  if (window) window->SetIcon("", resource_id);
}

}  // namespace velmora
