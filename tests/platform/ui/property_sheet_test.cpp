// Tabbed property sheets driven by the scripted host: pages made on first show, a page that refuses
// to be left, Apply and OK storing only the pages that were shown, Cancel resetting them, and a
// sheet run a second time starting afresh.
#include <gtest/gtest.h>

#include "platform/ui/controls.h"
#include "platform/ui/headless_host.h"
#include "platform/ui/property_sheet.h"
#include "platform/ui/ui_dispatcher.h"
#include "support/headless_ui_test.h"

namespace velmora {
namespace {

constexpr int kIdEdit = 1204;
constexpr int kIdCheck = 1209;

DialogTemplate PageTemplate(int id, const char* caption, int cx, int cy) {
  return DialogTemplate{id,
                        caption,
                        cx,
                        cy,
                        {{ControlKind::kEdit, kIdEdit, "5", 7, 7, 60, 12, 0},
                         {ControlKind::kCheckBox, kIdCheck, "标注", 7, 24, 60, 10, 0}}};
}

// A page in the shape the option pages have: it reads its value on init, refuses a bad value
// when left and stores it on apply.
class CountPage : public CPropertyPage {
 public:
  CountPage(int id, const char* caption, int cx, int cy) : CPropertyPage(PageTemplate(id, caption, cx, cy)) {
    MapControlNotify(kIdEdit, EN_CHANGE, [this] { SetModified(); });
  }
  bool OnInitDialog() override {
    ++inits;
    SetDlgItemInt(kIdEdit, stored);
    return true;
  }
  bool OnSetActive() override {
    ++activations;
    return true;
  }
  bool OnKillActive() override {
    auto v = GetDlgItemInt(kIdEdit);
    if (!v || *v < 1) {
      MessageBox("等高线间隔必须大于0");
      return false;
    }
    return true;
  }
  bool OnApply() override {
    stored = static_cast<int>(*GetDlgItemInt(kIdEdit));
    ++applies;
    return true;
  }
  void OnReset() override { ++resets; }

  int stored = 5;
  int inits = 0, activations = 0, applies = 0, resets = 0;
};

using PropertySheetTest = test::HeadlessUiTest;

TEST_F(PropertySheetTest, PagesAreMadeOnFirstShowAndOnlyShownPagesApply) {
  CountPage dem(264, "高程", 220, 150), earth(241, "谷歌地球", 200, 180), export_page(240, "拼图", 180, 100);
  CPropertySheet sheet("选项");
  for (CPropertyPage* p : {static_cast<CPropertyPage*>(&dem), static_cast<CPropertyPage*>(&earth),
                           static_cast<CPropertyPage*>(&export_page)})
    sheet.AddPage(p);

  host.AnswerDialog(CPropertySheet::kTemplateId, [&](CDialog& d) {
    auto& s = dynamic_cast<CPropertySheet&>(d);
    EXPECT_EQ(s.GetWindowText(), "选项");
    // Sized for the largest page, with the three buttons below the tabs.
    EXPECT_EQ(s.Template().cx, 220 + 4 + 14);
    EXPECT_EQ(s.GetDlgItemText(ID_APPLY_NOW), "应用(&A)");
    EXPECT_GE(s.GetDlgItem(IDOK)->GetWindowRect().top, s.TabRect().bottom);
    EXPECT_EQ(s.GetActiveIndex(), 0);
    EXPECT_TRUE(dem.IsWindow());
    EXPECT_FALSE(earth.IsWindow());  // not shown yet
    EXPECT_FALSE(s.IsApplyEnabled());

    // A bad value keeps the page: no switch, the message says why.
    dem.GetDlgItemAs<CEdit>(kIdEdit)->Type("0");
    EXPECT_TRUE(s.IsApplyEnabled());
    EXPECT_FALSE(s.SetActivePage(1));
    EXPECT_EQ(host.LastMessage(), "等高线间隔必须大于0");
    EXPECT_EQ(s.GetActiveIndex(), 0);
    dem.GetDlgItemAs<CEdit>(kIdEdit)->Type("20");
    ASSERT_TRUE(s.SetActivePage(1));
    EXPECT_TRUE(earth.IsWindow());
    EXPECT_FALSE(dem.IsWindowVisible());
    EXPECT_TRUE(earth.IsWindowVisible());
    EXPECT_EQ(earth.GetParent(), &s);

    s.GetDlgItemAs<CButton>(ID_APPLY_NOW)->Click();
    EXPECT_EQ(dem.stored, 20);
    EXPECT_FALSE(s.IsApplyEnabled());
    s.GetDlgItemAs<CButton>(IDOK)->Click();
  });
  EXPECT_EQ(sheet.DoModal(), IDOK);
  EXPECT_EQ(dem.applies, 2);  // Apply, then OK
  EXPECT_EQ(earth.applies, 2);
  EXPECT_EQ(export_page.applies, 0);  // never shown: nothing to store
  EXPECT_EQ(export_page.inits, 0);
  EXPECT_FALSE(dem.IsWindow());
  EXPECT_FALSE(earth.IsWindow());

  // Cancel resets the shown pages only; a second run makes the windows again from the start page.
  CPropertySheet second("选项", nullptr, 2);
  second.AddPage(&dem);
  second.AddPage(&export_page);
  host.AnswerDialog(CPropertySheet::kTemplateId, [&](CDialog& d) {
    auto& s = dynamic_cast<CPropertySheet&>(d);
    EXPECT_EQ(s.GetActiveIndex(), 0);  // start page out of range: the first
    EXPECT_EQ(dem.GetDlgItemText(kIdEdit), "20");
    d.GetDlgItemAs<CButton>(IDCANCEL)->Click();
  });
  EXPECT_EQ(second.DoModal(), IDCANCEL);
  EXPECT_EQ(dem.resets, 1);
  EXPECT_EQ(export_page.resets, 0);
  EXPECT_EQ(dem.inits, 2);
}

TEST_F(PropertySheetTest, OkWithARefusingPageKeepsTheSheetOpen) {
  CountPage dem(264, "高程", 220, 150);
  CPropertySheet sheet("选项");
  sheet.AddPage(&dem);
  host.AnswerDialog(0, [&](CDialog& d) {
    dem.GetDlgItemAs<CEdit>(kIdEdit)->Type("abc");
    d.GetDlgItemAs<CButton>(IDOK)->Click();
    EXPECT_FALSE(d.HasEnded());
    dem.GetDlgItemAs<CEdit>(kIdEdit)->Type("7");
    d.GetDlgItemAs<CButton>(IDOK)->Click();
  });
  EXPECT_EQ(sheet.DoModal(), IDOK);
  EXPECT_EQ(dem.stored, 7);
  EXPECT_EQ(host.MessageTexts().size(), 1u);
}

}  // namespace
}  // namespace velmora
