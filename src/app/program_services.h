// What the velmora program plugs into its application object before the start-up: the view
// factories, the start-up and shut-down steps of the modules (catalogue, tile manager, map
// publishing, script window, place search) and the modules' commands. The program and the tests
// of the whole main window call the same function, so that both see every menu item.
#pragma once

namespace velmora {

class CKovraHomeExApp;

void RegisterProgramServices(CKovraHomeExApp& app);

}  // namespace velmora
