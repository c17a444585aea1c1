// The line sampling settings: spacings that are not positive numbers refused with the dialog's
// message and nothing stored, a small one accepted and stored, the option unticked at every
// opening, and the tree's records owned and freed by the dialog.
#include <gtest/gtest.h>

#include "core/settings.h"
#include "support/headless_ui_test.h"
#include "support/isolated_folders.h"
#include "terrain/ui/dlg_dem_by_line.h"

namespace velmora {
namespace {

const test::TempDir& kFolders = test::IsolatedFolders();

class DemByLineTest : public test::HeadlessUiTest {};

TEST_F(DemByLineTest, SpacingsThatAreNotPositiveNumbersAreRefused) {
  ProgramSettings().SetFloat("dembyline_space", 0.09f);
  for (const char* bad : {"0", "-1", "nan", "inf", "-inf", "", "abc", "1e-60"}) {
    SCOPED_TRACE(bad);
    CDlgDemByLine dialog;
    host.AnswerDialog(CDlgDemByLine::kTemplateId, [&](CDialog& d) {
      EXPECT_EQ(d.GetDlgItemText(CDlgDemByLine::kIdSpacing), "0.09");
      d.SetDlgItemText(CDlgDemByLine::kIdSpacing, bad);
      d.SendMessage(WM_COMMAND, IDOK);
      EXPECT_FALSE(d.HasEnded());
    });
    host.ClearRecords();
    EXPECT_EQ(dialog.DoModal(), IDCANCEL);
    EXPECT_EQ(host.LastMessage(), CDlgDemByLine::kSpacingTooSmall);
    EXPECT_FLOAT_EQ(ProgramSettings().GetFloat("dembyline_space", -1), 0.09f);
  }
}

TEST_F(DemByLineTest, ASmallSpacingIsStoredAndTheOptionStartsUntickedEachTime) {
  {
    CDlgDemByLine dialog;
    EXPECT_EQ(dialog.sort, 1);
    EXPECT_EQ(dialog.count, 1);
    host.AnswerDialog(CDlgDemByLine::kTemplateId, [&](CDialog& d) {
      EXPECT_EQ(d.IsDlgButtonChecked(CDlgDemByLine::kIdOption), 0);
      d.SetDlgItemText(CDlgDemByLine::kIdSpacing, "0.01");
      d.SetDlgItemText(CDlgDemByLine::kIdCount, "7");
      d.CheckDlgButton(CDlgDemByLine::kIdOption, 1);
      d.GetDlgItemAs<CComboBox>(CDlgDemByLine::kIdSort)->SetCurSel(0);
      d.SendMessage(WM_COMMAND, IDOK);
    });
    ASSERT_EQ(dialog.DoModal(), IDOK);
    EXPECT_TRUE(dialog.option);
  }
  EXPECT_FLOAT_EQ(ProgramSettings().GetFloat("dembyline_space", -1), 0.01f);
  EXPECT_EQ(ProgramSettings().GetInt("dembyline_count", -1), 7);
  EXPECT_EQ(ProgramSettings().GetInt("dembyline_sort", -1), 0);

  CDlgDemByLine again;
  EXPECT_FLOAT_EQ(again.spacing, 0.01f);
  for (int opening = 0; opening < 2; ++opening) {
    host.AnswerDialog(CDlgDemByLine::kTemplateId, [&](CDialog& d) {
      EXPECT_EQ(d.IsDlgButtonChecked(CDlgDemByLine::kIdOption), 0);
      EXPECT_EQ(d.GetDlgItemText(CDlgDemByLine::kIdSpacing), "0.01");
      d.CheckDlgButton(CDlgDemByLine::kIdOption, 1);
      auto& dialog = static_cast<CDlgDemByLine&>(d);
      HTREEITEM top = dialog.AddItem("线路", "1");
      HTREEITEM child = dialog.AddItem("点数", "12", top);
      ASSERT_NE(dialog.ItemRecord(child), nullptr);
      EXPECT_EQ(dialog.ItemRecord(child)->value, "12");
      EXPECT_EQ(dialog.RecordCount(), 2u);
      d.SendMessage(WM_COMMAND, IDOK);
    });
    ASSERT_EQ(again.DoModal(), IDOK);
    EXPECT_EQ(again.RecordCount(), 0u);  // freed with the window
  }
}

}  // namespace
}  // namespace velmora
