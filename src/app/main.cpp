// The velmora program.
#include <cstdio>

#include "core/log.h"
#include "core/settings.h"

int main() {
  velmora::Folders f = velmora::ResolveFolders();
  velmora::AppLog("velmora: program folder %s, data folder %s", f.program.c_str(), f.data.c_str());
  return 0;
}
