// The map publishing dialogs driven headless through the window model against a running server:
// services added, edited, deleted, stopped and started through the menus and the editor, each
// change checked over a socket and in the bytes of "wmts.dat"; the editor's checks before it
// closes; the lists while a client holds a connection; a save that fails.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "core/settings.h"
#include "platform/net.h"
#include "platform/ui/controls.h"
#include "platform/ui/dialog_template.h"
#include "platform/ui/headless_host.h"
#include "platform/ui/ui_dispatcher.h"
#include "server/ui/dlg_map_services.h"
#include "server/ui/dlg_new_map_service.h"
#include "server/ui/map_service_commands.h"
#include "server/ui/map_service_templates.h"
#include "server/wmts_server.h"
#include "server/wmts_service.h"
#include "server/wmts_test_util.h"
#include "shell/command_table.h"
#include "tiles/layer_manager.h"

namespace velmora {
namespace {

using test::HttpAnswer;
using test::RawClient;
using test::ServerEnvironment;
using test::TileUrl;

[[maybe_unused]] ServerEnvironment* const environment = ServerEnvironment::Install();

// One record of "wmts.dat" as the test expects it; the name as GBK bytes.
struct StoredService {
  uint16_t port;
  std::string gbk_name;
  std::vector<uint32_t> base, overlays;
};

std::string ServicesFile(const std::vector<StoredService>& services) {
  std::string b;
  auto u32 = [&b](uint32_t v) { b.append(reinterpret_cast<const char*>(&v), 4); };
  u32(1);
  u32(37);
  u32(static_cast<uint32_t>(services.size()));
  for (const StoredService& s : services) {
    b.append(reinterpret_cast<const char*>(&s.port), 2);
    b.push_back(static_cast<char>(s.gbk_name.size()));
    b += s.gbk_name;
    for (const auto* ids : {&s.base, &s.overlays}) {
      u32(static_cast<uint32_t>(ids->size()));
      for (uint32_t id : *ids) u32(id);
    }
  }
  return b;
}

std::string FileBytes(const std::string& path) {
  std::error_code ec;
  return std::filesystem::exists(path, ec) ? test::ReadTestFile(path) : std::string("<missing>");
}

// A tile request on a new connection: the status line, or "" when nobody answers.
std::string TileStatus(uint16_t port, std::string* body = nullptr) {
  RawClient client(port);
  HttpAnswer a;
  if (!client.Connected() || !client.Get(TileUrl(35, 4, 5, 6)) || !client.Read(&a)) return "";
  if (body) *body = a.body;
  return a.status_line;
}

std::string Repeat(const char* text, int times) {
  std::string s;
  for (int i = 0; i < times; ++i) s += text;
  return s;
}

// The row of the source list that holds the catalogue source `id`.
int SourceRow(CDlgNewMapService& editor, int id) {
  return editor.SourceList().FindItemByData(static_cast<uintptr_t>(id));
}

class MapServiceDialogsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    UiDispatcher().AttachToCurrentThread();
    SetUiHost(&host_);
    port_ = test::FreePort();
    WmtsServerOptions& o = server_.Options();
    test::ConfigureTestServer(o, port_, path_);
    o.browser_command = "/nonexistent/browser";
    tile_ = ServerEnvironment::Get()->StoreTile(35, 4, 5, 6, 0xFF336699u);
  }
  void TearDown() override {
    server_.StopServices(0);
    SetUiHost(nullptr);
  }

  CDlgNewMapService& Editor(CDialog& d) { return static_cast<CDlgNewMapService&>(d); }
  CDlgMapServices& Services(CDialog& d) { return static_cast<CDlgMapServices&>(d); }
  static void Type(CDialog& d, int id, const std::string& text) { d.GetDlgItemAs<CEdit>(id)->Type(text); }
  static void Click(CDialog& d, int id) { d.GetDlgItemAs<CButton>(id)->Click(); }
  // Chooses `command` from the menu of a right click on `row` of `list`.
  void MenuOn(CListCtrl& list, int row, UINT command) {
    host_.AnswerMenu(command);
    list.RightClickItem(row);
  }
  // Pumps the dialog's queue (its one-second timer) until `done`.
  static bool PumpUntil(const std::function<bool()>& done) { return UiDispatcher().PumpUntil(done, 10000); }

  CHeadlessUiHost host_;
  test::TempDir dir_;
  std::string path_ = dir_.File("wmts.dat");
  uint16_t port_ = 0;
  std::string tile_;
  CWmtsServer server_;
};

TEST_F(MapServiceDialogsTest, TemplatesAndTheMenuCommand) {
  RegisterMapServiceTemplates();
  auto services = FindDialogTemplate(kMapServicesTemplateId);
  ASSERT_TRUE(services);
  EXPECT_EQ(services->caption, "地图发布服务");
  EXPECT_EQ(services->cx, 336);
  EXPECT_EQ(services->cy, 228);
  auto editor = FindDialogTemplate(kNewMapServiceTemplateId);
  ASSERT_TRUE(editor);
  EXPECT_EQ(editor->caption, "新建地图发布服务");
  EXPECT_EQ(editor->cx, 264);
  EXPECT_EQ(editor->cy, 259);
  const std::pair<const DialogTemplate*, std::vector<int>> expected[] = {
      {services.get(), {1212, 1213, 1214}}, {editor.get(), {1213, 1339, 1232, 1233, 1234, IDOK, IDCANCEL}}};
  for (const auto& [t, ids] : expected) {
    for (int id : ids) {
      const ControlTemplate* c = t->FindControl(id);
      ASSERT_TRUE(c) << t->id << ": " << id;
      EXPECT_LE(c->x + c->cx, t->cx - 7) << id;  // inside the dialog's margin
      EXPECT_LE(c->y + c->cy, t->cy - 7) << id;
    }
  }
  for (const char* label : {"端口号", "名称", "基本图层", "覆盖图层"}) {
    bool found = false;
    for (const ControlTemplate& c : editor->controls) found = found || c.text == label;
    EXPECT_TRUE(found) << label;
  }
  EXPECT_EQ(editor->FindControl(IDOK)->text, "确定");
  EXPECT_EQ(editor->FindControl(IDCANCEL)->text, "取消");

  RegisterMapServiceCommands();
  std::optional<AppCommand> command = AppCommands().Find(ID_MAP_SERVICE);
  ASSERT_TRUE(command);
  EXPECT_EQ(command->id, 32881u);
  EXPECT_EQ(command->menu, "工具");
  EXPECT_TRUE(command->handler);
  AppCommands().Unregister(ID_MAP_SERVICE);
}

TEST_F(MapServiceDialogsTest, EditorRefusesWhatCannotBePublishedOrStored) {
  ASSERT_TRUE(server_.Start());
  UniqueFd other_program = ListenTcp(0, false);
  ASSERT_TRUE(other_program.Valid());
  const uint16_t taken_elsewhere = LocalPort(other_program.Get());
  const uint16_t free_port = test::FreePort();

  CDlgNewMapService dlg(server_);
  host_.AnswerDialog(kNewMapServiceTemplateId, [&](CDialog& d) {
    CDlgNewMapService& e = Editor(d);
    // Defaults: the unprivileged port of the default service, the name, every map source of the
    // catalogue in its order, nothing chosen yet.
    EXPECT_EQ(d.GetDlgItemText(CDlgNewMapService::kIdPort), "8888");
    EXPECT_EQ(d.GetDlgItemText(CDlgNewMapService::kIdName), "谷歌");
    const auto& sources = LayerManager().Sources();
    ASSERT_EQ(e.SourceList().GetItemCount(), static_cast<int>(sources.size()));
    EXPECT_EQ(e.SourceList().GetColumnHeading(0), "名称");
    EXPECT_EQ(e.SourceList().GetColumnHeading(1), "来源");
    EXPECT_EQ(e.SourceList().GetItemText(0, 0), sources[0].name);
    EXPECT_EQ(e.SourceList().GetItemText(0, 1), sources[0].group_name);
    EXPECT_EQ(e.BaseLayerList().GetItemCount(), 0);

    // The port field takes 1 to 65535 only.
    for (const char* bad : {"0", "65536", "", "八"}) {
      Type(d, CDlgNewMapService::kIdPort, bad);
      Click(d, IDOK);
      EXPECT_EQ(host_.LastMessage(), "请输入一个介于 1 和 65535 之间的整数。") << bad;
    }
    // A port of another service, or one another program listens on, is refused.
    for (uint16_t taken : {port_, taken_elsewhere}) {
      Type(d, CDlgNewMapService::kIdPort, std::to_string(taken));
      Click(d, IDOK);
      EXPECT_EQ(host_.LastMessage(), "端口不可用,请尝试其他!") << taken;
    }
    Type(d, CDlgNewMapService::kIdPort, std::to_string(free_port));
    // Names that the services file could not give back.
    Type(d, CDlgNewMapService::kIdName, Repeat("图", 128));
    Click(d, IDOK);
    EXPECT_EQ(host_.LastMessage(), "名称太长,最多254个字节(127个汉字)!");
    Type(d, CDlgNewMapService::kIdName, "地图\xF0\x9F\x97\xBA");  // a character GBK does not have
    Click(d, IDOK);
    EXPECT_EQ(host_.LastMessage(), "名称中有无法保存的字符,请修改!");
    Type(d, CDlgNewMapService::kIdName, Repeat("图", 127));
    // No base layer yet.
    Click(d, IDOK);
    EXPECT_EQ(host_.LastMessage(), "请至少选择一个基本图层!");
    EXPECT_FALSE(d.HasEnded());

    // Sources go into the lists through the source list's menu; once per list, but a source may
    // stand in both.
    e.SourceList().ClickItem(SourceRow(e, 35));
    MenuOn(e.SourceList(), SourceRow(e, 35), CDlgNewMapService::kCmdAddBaseLayer);
    EXPECT_EQ(host_.Records().back().text, "加入到基本图层|加入到覆盖图层");
    MenuOn(e.SourceList(), SourceRow(e, 35), CDlgNewMapService::kCmdAddBaseLayer);
    EXPECT_EQ(host_.LastMessage(), "已经存在了!");
    MenuOn(e.SourceList(), SourceRow(e, 35), CDlgNewMapService::kCmdAddOverlay);
    MenuOn(e.SourceList(), SourceRow(e, 7), CDlgNewMapService::kCmdAddOverlay);
    ASSERT_EQ(e.BaseLayerList().GetItemCount(), 1);
    EXPECT_EQ(e.BaseLayerList().GetItemText(0, 0), "国内-卫星");
    EXPECT_EQ(e.OverlayList().GetItemCount(), 2);
    Click(d, IDOK);
    EXPECT_TRUE(d.HasEnded());
  });
  EXPECT_EQ(dlg.DoModal(), IDOK);
  EXPECT_EQ(dlg.Port(), free_port);
  EXPECT_EQ(dlg.Name(), Repeat("图", 127));
  EXPECT_EQ(dlg.BaseLayers(), (std::vector<int32_t>{35}));
  EXPECT_EQ(dlg.Overlays(), (std::vector<int32_t>{35, 7}));
  // Nothing is stored by the editor itself.
  EXPECT_EQ(FileBytes(path_), "<missing>");
}

TEST_F(MapServiceDialogsTest, EditorListsMoveDeleteAndKeepUnknownSources) {
  CDlgNewMapService dlg(server_);
  dlg.SetPort(test::FreePort());
  // 424242 is no source of the catalogue: it stays itself, shown by its number.
  dlg.SetLayers({0, 35, 424242}, {7});
  host_.AnswerDialog(kNewMapServiceTemplateId, [&](CDialog& d) {
    CDlgNewMapService& e = Editor(d);
    CListCtrl& base = e.BaseLayerList();
    auto names = [&base] {
      std::string out;
      for (int i = 0; i < base.GetItemCount(); ++i) out += base.GetItemText(i, 0) + "/" + base.GetItemText(i, 1) + ";";
      return out;
    };
    const std::string group = LayerManager().FindSourceStrict(0)->group_name;
    EXPECT_EQ(names(), "国外-卫星/" + group + ";国内-卫星/" + group + ";424242/;");
    // Nothing selected: the list's menu does not open.
    base.ClearSelection();
    size_t menus = host_.Records().size();
    base.RightClickItem(-1);
    EXPECT_EQ(host_.Records().size(), menus);

    // The top row cannot go up, the bottom row cannot go down.
    base.ClickItem(0);
    MenuOn(base, 0, CDlgNewMapService::kCmdUp);
    EXPECT_EQ(host_.Records().back().text, "删除|向上|向下");
    base.ClickItem(2);
    MenuOn(base, 2, CDlgNewMapService::kCmdDown);
    EXPECT_EQ(names(), "国外-卫星/" + group + ";国内-卫星/" + group + ";424242/;");
    // Down from the top: the rows change places, the selection stays on the top row.
    base.ClickItem(0);
    MenuOn(base, 0, CDlgNewMapService::kCmdDown);
    EXPECT_EQ(names(), "国内-卫星/" + group + ";国外-卫星/" + group + ";424242/;");
    EXPECT_EQ(base.GetSelectedItems(), std::vector<int>{0});
    // The commands act on the list that was clicked last: delete from the overlays.
    e.OverlayList().ClickItem(0);
    MenuOn(e.OverlayList(), 0, CDlgNewMapService::kCmdDelete);
    EXPECT_EQ(e.OverlayList().GetItemCount(), 0);
    EXPECT_EQ(base.GetItemCount(), 3);
    Click(d, IDOK);
  });
  EXPECT_EQ(dlg.DoModal(), IDOK);
  EXPECT_EQ(dlg.BaseLayers(), (std::vector<int32_t>{35, 0, 424242}));
  EXPECT_TRUE(dlg.Overlays().empty());

  // Each list holds at most so many sources.
  CDlgNewMapService full(server_);
  std::vector<int32_t> many;
  for (size_t i = 0; i < kMaxServiceLayers; ++i) many.push_back(static_cast<int32_t>(100000 + i));
  full.SetLayers(many, {});
  host_.AnswerDialog(kNewMapServiceTemplateId, [&](CDialog& d) {
    CDlgNewMapService& e = Editor(d);
    e.SourceList().ClickItem(0);
    MenuOn(e.SourceList(), 0, CDlgNewMapService::kCmdAddBaseLayer);
    EXPECT_EQ(host_.LastMessage(), "每个图层列表最多64个图层!");
    EXPECT_EQ(e.BaseLayerList().GetItemCount(), static_cast<int>(kMaxServiceLayers));
  });
  EXPECT_EQ(full.DoModal(), IDCANCEL);
}

TEST_F(MapServiceDialogsTest, AddEditStopStartAndDeleteReachTheServerAndTheFile) {
  ASSERT_TRUE(server_.Start());
  const uint16_t added_port = test::FreePort();
  uint16_t moved_port = test::FreePort();
  while (moved_port == added_port) moved_port = test::FreePort();
  const StoredService google{port_, "google", {35, 0}, {7}};
  std::unique_ptr<RawClient> held;
  HttpAnswer a;

  CDlgMapServices dlg(nullptr, &server_);
  host_.AnswerDialog(kMapServicesTemplateId, [&](CDialog& d) {
    CDlgMapServices& m = Services(d);
    CListCtrl& list = m.ServiceList();
    ASSERT_EQ(list.GetItemCount(), 1);
    EXPECT_EQ(list.GetColumnHeading(2), "活动连接数");
    EXPECT_EQ(list.GetItemText(0, 0), "google");
    EXPECT_EQ(list.GetItemText(0, 1), std::to_string(port_));
    EXPECT_EQ(list.GetItemImage(0), 0);

    // A click on no row: only "新建服务" can be chosen.
    CMenu menu = m.ServiceMenu(false);
    EXPECT_EQ(menu.ChoosableCommands(), (std::vector<UINT>{CDlgMapServices::kCmdNew, CDlgMapServices::kCmdRequestLog}));
    list.ClearSelection();
    MenuOn(list, -1, CDlgMapServices::kCmdDelete);
    EXPECT_EQ(server_.Services().size(), 1u);

    // ---- new ----
    host_.AnswerDialog(kNewMapServiceTemplateId, [&](CDialog& e) {
      CDlgNewMapService& editor = Editor(e);
      EXPECT_NE(e.GetDlgItemText(CDlgNewMapService::kIdPort), std::to_string(port_));  // a free port is offered
      Type(e, CDlgNewMapService::kIdPort, std::to_string(added_port));
      Type(e, CDlgNewMapService::kIdName, "影像服务");
      editor.SourceList().ClickItem(SourceRow(editor, 0));
      MenuOn(editor.SourceList(), SourceRow(editor, 0), CDlgNewMapService::kCmdAddBaseLayer);
      editor.SourceList().ClickItem(SourceRow(editor, 7));
      MenuOn(editor.SourceList(), SourceRow(editor, 7), CDlgNewMapService::kCmdAddOverlay);
      Click(e, IDOK);
    });
    MenuOn(list, -1, CDlgMapServices::kCmdNew);
    ASSERT_EQ(list.GetItemCount(), 2);
    EXPECT_EQ(list.GetItemText(1, 0), "影像服务");
    std::string body;
    EXPECT_EQ(TileStatus(added_port, &body), "HTTP/1.0 200 OK");
    EXPECT_EQ(body, tile_);
    EXPECT_EQ(FileBytes(path_), ServicesFile({google, {added_port, "\xd3\xb0\xcf\xf1\xb7\xfe\xce\xf1", {0}, {7}}}));

    // ---- modify, while a client holds a connection: the connection stays ----
    held = std::make_unique<RawClient>(added_port);
    ASSERT_TRUE(held->Get(TileUrl(35, 4, 5, 6)));
    ASSERT_TRUE(held->Read(&a));
    host_.AnswerDialog(kNewMapServiceTemplateId, [&](CDialog& e) {
      EXPECT_EQ(e.GetDlgItemText(CDlgNewMapService::kIdPort), std::to_string(added_port));
      EXPECT_EQ(e.GetDlgItemText(CDlgNewMapService::kIdName), "影像服务");
      EXPECT_EQ(Editor(e).BaseLayerList().GetItemCount(), 1);
      Click(e, IDOK);  // its own port is not refused
      EXPECT_TRUE(e.HasEnded());
    });
    list.ClickItem(1);
    MenuOn(list, 1, CDlgMapServices::kCmdModify);
    EXPECT_EQ(host_.MessageTexts().size(), 0u) << host_.LastMessage();
    host_.AnswerDialog(kNewMapServiceTemplateId, [&](CDialog& e) {
      // Another service's port is refused before anything changes.
      Type(e, CDlgNewMapService::kIdPort, std::to_string(port_));
      Click(e, IDOK);
      EXPECT_EQ(host_.LastMessage(), "端口不可用,请尝试其他!");
      Type(e, CDlgNewMapService::kIdPort, std::to_string(moved_port));
      Type(e, CDlgNewMapService::kIdName, "dem");
      Click(e, IDOK);
    });
    MenuOn(list, 1, CDlgMapServices::kCmdModify);
    EXPECT_EQ(list.GetItemText(1, 0), "dem");
    EXPECT_EQ(list.GetItemText(1, 1), std::to_string(moved_port));
    EXPECT_EQ(TileStatus(added_port), "");
    EXPECT_EQ(TileStatus(moved_port), "HTTP/1.0 200 OK");
    ASSERT_TRUE(held->Get(TileUrl(35, 4, 5, 6)));
    EXPECT_TRUE(held->Read(&a)) << "the connection made before the change is still answered";
    EXPECT_EQ(FileBytes(path_), ServicesFile({google, {moved_port, "dem", {0}, {7}}}));

    // ---- start/stop: stopping closes the connections too ----
    held = std::make_unique<RawClient>(moved_port);
    ASSERT_TRUE(held->Get(TileUrl(35, 4, 5, 6)));
    ASSERT_TRUE(held->Read(&a));
    MenuOn(list, 1, CDlgMapServices::kCmdStartStop);
    EXPECT_TRUE(held->WaitClosed());
    EXPECT_EQ(TileStatus(moved_port), "");
    EXPECT_TRUE(PumpUntil([&] { return list.GetItemImage(1) == 1; }));  // the stopped picture
    EXPECT_EQ(list.GetItemImage(0), 0);
    MenuOn(list, 1, CDlgMapServices::kCmdStartStop);
    EXPECT_EQ(TileStatus(moved_port), "HTTP/1.0 200 OK");
    EXPECT_TRUE(PumpUntil([&] { return list.GetItemImage(1) == 0; }));

    // ---- the browser: a failure to start one is told, with the address ----
    MenuOn(list, 1, CDlgMapServices::kCmdBrowseLocal);
    EXPECT_EQ(host_.LastMessage(), "无法启动浏览器,请手动打开 http://localhost:" + std::to_string(moved_port));

    // ---- delete: its connections close ----
    held = std::make_unique<RawClient>(moved_port);
    ASSERT_TRUE(held->Get(TileUrl(35, 4, 5, 6)));
    ASSERT_TRUE(held->Read(&a));
    MenuOn(list, 1, CDlgMapServices::kCmdDelete);
    EXPECT_TRUE(held->WaitClosed());
    EXPECT_EQ(list.GetItemCount(), 1);
    EXPECT_EQ(server_.Services().size(), 1u);
    EXPECT_EQ(TileStatus(moved_port), "");
    EXPECT_EQ(TileStatus(port_), "HTTP/1.0 200 OK");
  });
  EXPECT_EQ(dlg.DoModal(), IDCANCEL);
  EXPECT_EQ(FileBytes(path_), ServicesFile({google}));
  // The timer went with the window.
  EXPECT_EQ(UiDispatcher().TimerCount(), 0u);
}

TEST_F(MapServiceDialogsTest, ListsFollowAClientThatComesAndGoes) {
  ASSERT_TRUE(server_.Start());
  CDlgMapServices dlg(nullptr, &server_);
  host_.AnswerDialog(kMapServicesTemplateId, [&](CDialog& d) {
    CDlgMapServices& m = Services(d);
    CListCtrl& list = m.ServiceList();
    EXPECT_EQ(list.GetItemText(0, 2), "0");
    auto client = std::make_unique<RawClient>(port_);
    HttpAnswer a;
    ASSERT_TRUE(client->Get(TileUrl(35, 4, 5, 6)));
    ASSERT_TRUE(client->Read(&a));
    // A double click lists the service's connections and peers.
    list.DoubleClickItem(0);
    ASSERT_EQ(m.ConnectionList().GetItemCount(), 1);
    EXPECT_EQ(m.ConnectionList().GetItemText(0, 0), "127.0.0.1");
    EXPECT_EQ(m.ConnectionList().GetItemText(0, 1), std::to_string(LocalPort(client->Fd())));
    ASSERT_EQ(m.PeerList().GetItemCount(), 1);
    EXPECT_EQ(m.PeerList().GetItemText(0, 2), "");  // still connected
    EXPECT_EQ(list.GetItemText(0, 2), "1");
    // The server counts an answer once it went out, which may be just after the client read it.
    EXPECT_TRUE(PumpUntil([&] { return list.GetItemText(0, 4) != FormatByteSize(0); }));
    const std::string sent = list.GetItemText(0, 4);

    // More tiles: the byte totals move, and the list is asked again every second.
    const unsigned changes = list.InvalidateCount();
    ASSERT_TRUE(client->Get(TileUrl(35, 4, 5, 6)));
    ASSERT_TRUE(client->Read(&a));
    EXPECT_TRUE(PumpUntil([&] { return list.InvalidateCount() != changes; }));
    EXPECT_TRUE(PumpUntil([&] { return list.GetItemText(0, 4) != sent; }));

    // The client leaves: the refresh empties the connection list and closes the peer's visit.
    client.reset();
    EXPECT_TRUE(PumpUntil([&] { return m.ConnectionList().GetItemCount() == 0; }));
    EXPECT_TRUE(PumpUntil([&] { return !m.PeerList().GetItemText(0, 2).empty(); }));
    EXPECT_EQ(list.GetItemText(0, 2), "0");
  });
  EXPECT_EQ(dlg.DoModal(), IDCANCEL);
}

TEST_F(MapServiceDialogsTest, AFailedSaveIsToldAndTheOldFileStays) {
  // The file's name leaves no room for the temporary file beside it: every rewrite fails.
  std::string path = dir_.File(std::string(248, 'w') + ".dat");
  server_.Options().services_path = path;
  const std::string old_file = ServicesFile({{port_, "kept", {35}, {}}});
  test::WriteTestFile(path, old_file);
  ASSERT_TRUE(server_.Start());
  ASSERT_EQ(server_.Services().size(), 1u);
  const uint16_t added_port = test::FreePort();

  CDlgMapServices dlg(nullptr, &server_);
  host_.AnswerDialog(kMapServicesTemplateId, [&](CDialog& d) {
    host_.AnswerDialog(kNewMapServiceTemplateId, [&](CDialog& e) {
      Type(e, CDlgNewMapService::kIdPort, std::to_string(added_port));
      Editor(e).SourceList().ClickItem(0);
      MenuOn(Editor(e).SourceList(), 0, CDlgNewMapService::kCmdAddBaseLayer);
      Click(e, IDOK);
    });
    MenuOn(Services(d).ServiceList(), -1, CDlgMapServices::kCmdNew);
  });
  dlg.DoModal();
  EXPECT_EQ(host_.LastMessage(), "地图发布服务无法保存到" + path + ",原来的文件保持不变;本次的修改在软件重启后会丢失。");
  EXPECT_EQ(FileBytes(path), old_file);
  // The change itself is in effect for this run.
  EXPECT_EQ(TileStatus(added_port), "HTTP/1.0 200 OK");
}

TEST_F(MapServiceDialogsTest, RequestLogSettingFlipsAndSaysWhenItTakesEffect) {
  WriteProfileInt(kRequestLogSection, kRequestLogKey, 0);
  CDlgMapServices dlg(nullptr, &server_);
  host_.AnswerDialog(kMapServicesTemplateId, [&](CDialog& d) {
    CDlgMapServices& m = Services(d);
    EXPECT_FALSE(m.ServiceMenu(true).FindCommand(CDlgMapServices::kCmdRequestLog)->IsChecked());
    MenuOn(m.ServiceList(), 0, CDlgMapServices::kCmdRequestLog);
    EXPECT_EQ(host_.LastMessage(), "设置在软件重启后生效");
    EXPECT_EQ(GetProfileInt(kRequestLogSection, kRequestLogKey, 0), 1);
    EXPECT_TRUE(m.ServiceMenu(true).FindCommand(CDlgMapServices::kCmdRequestLog)->IsChecked());
    MenuOn(m.ServiceList(), 0, CDlgMapServices::kCmdRequestLog);
    EXPECT_EQ(GetProfileInt(kRequestLogSection, kRequestLogKey, 1), 0);
  });
  dlg.DoModal();
}

TEST_F(MapServiceDialogsTest, DeletingOneOfTwoServicesOnOnePortTakesTheChosenOne) {
  // A services file written elsewhere gave two services the same port; the first one listens.
  test::WriteTestFile(path_, ServicesFile({{port_, "first", {35}, {}}, {port_, "second", {0}, {7}}}));
  ASSERT_TRUE(server_.Start());
  ASSERT_EQ(server_.Services().size(), 2u);
  CDlgMapServices dlg(nullptr, &server_);
  host_.AnswerDialog(kMapServicesTemplateId, [&](CDialog& d) {
    CListCtrl& list = Services(d).ServiceList();
    ASSERT_EQ(list.GetItemText(1, 0), "second");
    list.ClickItem(1);
    MenuOn(list, 1, CDlgMapServices::kCmdDelete);
    ASSERT_EQ(list.GetItemCount(), 1);
    EXPECT_EQ(list.GetItemText(0, 0), "first");
  });
  dlg.DoModal();
  ASSERT_EQ(server_.Services().size(), 1u);
  EXPECT_EQ(server_.Services()[0]->Name(), "first");
  EXPECT_EQ(TileStatus(port_), "HTTP/1.0 200 OK");
  EXPECT_EQ(FileBytes(path_), ServicesFile({{port_, "first", {35}, {}}}));
}

TEST_F(MapServiceDialogsTest, AServiceThatCannotListenIsToldOnce) {
  UniqueFd other_program = ListenTcp(0, false);
  ASSERT_TRUE(other_program.Valid());
  const uint16_t taken = LocalPort(other_program.Get());
  test::WriteTestFile(path_, ServicesFile({{taken, "busy", {35}, {}}}));
  ASSERT_TRUE(server_.Start());
  ASSERT_FALSE(server_.Services().at(0)->IsRunning());
  CDlgMapServices dlg(nullptr, &server_);
  host_.AnswerDialog(kMapServicesTemplateId, [&](CDialog& d) {
    CListCtrl& list = Services(d).ServiceList();
    EXPECT_EQ(list.GetItemImage(0), 1);
    list.ClickItem(0);
    MenuOn(list, 0, CDlgMapServices::kCmdStartStop);
    EXPECT_EQ(host_.LastMessage(), "地图发布服务\"busy\"无法在端口" + std::to_string(taken) + "上接受连接,服务已停止。");
    // With the program's sink the server tells it; the dialog does not tell it again.
    std::vector<std::string> told;
    server_.Options().listen_failure_sink = [&told](const ServiceListenFailure& f) { told.push_back(f.message); };
    host_.ClearRecords();
    MenuOn(list, 0, CDlgMapServices::kCmdStartStop);
    EXPECT_EQ(told.size(), 1u);
    EXPECT_TRUE(host_.MessageTexts().empty()) << host_.LastMessage();
    EXPECT_FALSE(server_.Services().at(0)->IsRunning());
  });
  dlg.DoModal();
  server_.Options().listen_failure_sink = nullptr;
}

}  // namespace
}  // namespace velmora
