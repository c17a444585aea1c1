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
  window->SetIcon(name, 0);
  return true;
}

const char* IconResourceImage(int resource_id) {
  switch (resource_id) {
    case 126: return "icon.png";
    default: return "";
  }
}

void SetWindowIconFromResource(CWnd* window, int resource_id) {
  if (window) window->SetIcon(IconResourceImage(resource_id), resource_id);
}

}  // namespace velmora
