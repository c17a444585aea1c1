// The place search's start-up step and commands.
#include "places/ui/place_search_commands.h"

#include <memory>
#include <vector>

#include "core/settings.h"
#include "places/ui/cmb_address.h"
#include "places/ui/place_name_tree.h"
#include "platform/ui/ui_dispatcher.h"
#include "shell/command_table.h"
#include "shell/kovra_home_ex_app.h"
#include "shell/main_frame.h"
#include "tiles/layer_manager.h"

namespace velmora {
namespace {

constexpr const char* kMenu = "工具/地名查询";

struct PlaceSearchParts {
  std::unique_ptr<CmbAddress> box;
  std::vector<UINT> commands;
};

// The box of a handle: null once it is gone (handles are never reused).
CmbAddress* BoxOf(HWND hwnd) { return dynamic_cast<CmbAddress*>(UiDispatcher().FromHandle(hwnd)); }

bool HasPlaceNamePanel() {
  CMainFrame* frame = GetMainFrame();
  return frame && frame->FindSideBarPanel(CPlaceNameTree::kPanelName) != nullptr;
}

void RegisterCommands(PlaceSearchParts& parts, HWND box) {
  auto add = [&](UINT id, const std::string& text, const std::string& prompt, int order,
                 std::function<void(CCmdUI&, CmbAddress&)> update) {
    AppCommand c;
    c.id = id;
    c.menu = kMenu;
    c.text = text;
    c.prompt = prompt;
    c.order = order;
    c.handler = [box, id] {
      if (CmbAddress* b = BoxOf(box)) b->SendMessage(WM_COMMAND, MAKEWPARAM(id, 0), 0);
    };
    c.update = [box, update = std::move(update)](CCmdUI& ui) {
      CmbAddress* b = BoxOf(box);
      if (!b) {
        ui.Enable(false);
        return;
      }
      if (update) update(ui, *b);
    };
    AppCommands().Register(std::move(c));
    parts.commands.push_back(id);
  };
  add(CmbAddress::ID_LOCAL_SEARCH, "本地地址库(&L)...", "浏览当前地址库中的全部地名\n本地地址库", 10, {});
  add(CmbAddress::ID_TOGGLE_AUTO_UPDATE, "优先网络查询(&W)", "地名查询时先问网络服务\n优先网络查询", 11,
      [](CCmdUI& ui, CmbAddress& b) { ui.SetCheck(b.IsWebFirst() ? 1 : 0); });
  const int geocoders = LayerManager().GeocoderCount();
  for (int n = 0; n < geocoders && CmbAddress::ID_LIBRARY_FIRST + static_cast<UINT>(n) <= CmbAddress::ID_LIBRARY_LAST; ++n) {
    const MapSourceDef* source = LayerManager().GeocoderAt(n);
    if (!source) continue;
    const int id = source->id;
    add(CmbAddress::ID_LIBRARY_FIRST + static_cast<UINT>(n), "地址库: " + source->name,
        "在" + source->name + "的地址库中查询地名\n" + source->name, 20 + n,
        [id](CCmdUI& ui, CmbAddress& b) { ui.SetCheck(b.Source() == id ? 1 : 0); });
  }
  add(CmbAddress::ID_SOURCE_PLACE_NAMES, "行政地名(&A)", "在行政地名表中查询地名\n行政地名", 30, [](CCmdUI& ui, CmbAddress& b) {
    ui.SetCheck(b.Source() == kSearchSourcePlaceNames ? 1 : 0);
    ui.Enable(HasPlaceNamePanel());
  });
  add(CmbAddress::ID_SOURCE_SUGGEST, "网络提示(&S)", "输入时查询网络提示\n网络提示", 31,
      [](CCmdUI& ui, CmbAddress& b) { ui.SetCheck(b.Source() == kSearchSourceSuggest ? 1 : 0); });
}

}  // namespace

CmbAddress* FindPlaceSearchBox(CMainFrame* frame) {
  return frame ? dynamic_cast<CmbAddress*>(frame->AddressBarControl()) : nullptr;
}

void RegisterPlaceSearch(CKovraHomeExApp& app) {
  auto parts = std::make_shared<PlaceSearchParts>();
  AppStep step;
  step.name = "place search";
  step.phase = AppPhase::kFrame;
  step.start = [parts](CKovraHomeExApp& a) {
    CMainFrame* frame = a.MainFrame();
    if (!frame) return true;
    if (AppOptions().show_place_tree) {
      auto tree = std::make_unique<CPlaceNameTree>();
      if (tree->CreatePanel(frame)) frame->AddSideBarPanel(std::move(tree));
    }
    parts->box = std::make_unique<CmbAddress>();
    if (!parts->box->CreateBox(frame)) {
      parts->box.reset();
      return true;  // the program runs without its search box
    }
    frame->SetAddressBarControl(parts->box.get());
    const HWND box = parts->box->GetSafeHwnd();
    frame->MapCommand(IDOK, [box] {
      if (CmbAddress* b = BoxOf(box)) b->OnEnter();
    });
    RegisterCommands(*parts, box);
    return true;
  };
  step.stop = [parts](CKovraHomeExApp& a) {
    for (UINT id : parts->commands) AppCommands().Unregister(id);
    parts->commands.clear();
    if (CMainFrame* frame = a.MainFrame(); frame && frame->AddressBarControl() == parts->box.get())
      frame->SetAddressBarControl(nullptr);
    parts->box.reset();
  };
  app.RegisterStep(std::move(step));
}

}  // namespace velmora
