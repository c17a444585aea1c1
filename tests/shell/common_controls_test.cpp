// The shell's self-drawing controls and small choosers, headless: colour box, hyperlink, font
// sample, mark icon combo, picture box and the KML export dialog; what they paint, what a
// person's clicks do and what their parents hear. Also the shared image lists and cursors of the
// application object against the pictures that ship.
#include "velmora_build_paths.h"
#include <gtest/gtest.h>

#include <filesystem>

#include "core/settings.h"
#include "platform/gfx/bitmap.h"
#include "platform/gfx/image_codec.h"
#include "platform/ui/headless_host.h"
#include "platform/ui/ui_dispatcher.h"
#include "shell/color_static.h"
#include "shell/dialog_ex.h"
#include "shell/file_dialog_kmz_export.h"
#include "shell/font_sample_static.h"
#include "shell/icon_combo_box_ex.h"
#include "shell/kovra_home_ex_app.h"
#include "shell/link_static.h"
#include "shell/picture_pick_static.h"
#include "support/headless_ui_test.h"
#include "support/isolated_folders.h"

namespace velmora {
namespace {

const test::TempDir& kFolders = test::IsolatedFolders();

enum : int { kIdColor = 1507, kIdLink = 1527, kIdSample = 1515, kIdIcons = 1216, kIdPicture = 1352, kIdLabel = 1000 };

DialogTemplate ControlsTemplate() {
  return DialogTemplate{
      9401,
      "控件",
      240,
      120,
      {
          {ControlKind::kStatic, kIdLabel, "颜色:", 7, 9, 30, 10, 0},
          {ControlKind::kStatic, kIdColor, "", 40, 7, 30, 12, 0},
          {ControlKind::kStatic, kIdLink, "从地图视图获取范围", 80, 9, 100, 10, 0},
          {ControlKind::kStatic, kIdSample, "北京 晴", 7, 30, 120, 30, 0},
          {ControlKind::kComboBox, kIdIcons, "", 140, 30, 60, 80, 0},
          {ControlKind::kStatic, kIdPicture, "", 7, 66, 40, 40, 0},
      }};
}

class CControlsDialog : public CDialogEx {
 public:
  CControlsDialog() : CDialogEx(ControlsTemplate()) {
    BindControl(kIdColor, color);
    BindControl(kIdLink, link);
    BindControl(kIdSample, sample);
    BindControl(kIdIcons, icons);
    BindControl(kIdPicture, picture);
    MapControlNotify(kIdColor, CSN_COLORCHANGED, [this] { ++color_changes; });
    MapCommand(kIdLink, [this] { ++link_clicks; });
    MapControlNotify(kIdPicture, PSN_PICTURECHANGED, [this] { ++picture_changes; });
  }
  CColorStatic color;
  CLinkStatic link;
  CFontSampleStatic sample;
  CIconComboBoxEx icons;
  CPicturePickStatic picture;
  int color_changes = 0, link_clicks = 0, picture_changes = 0;
};

class CommonControlsTest : public test::HeadlessUiTest {
 protected:
  // Paints the window into a canvas of its size (as the front end does after sizing it).
  static CBitmap Paint(CWnd& w, int width, int height) {
    CBitmap canvas;
    EXPECT_TRUE(canvas.Create(width, height));
    EXPECT_TRUE(w.OnPaint(canvas));
    return canvas;
  }
  // Pixels of the canvas that differ from `ground` by more than a little.
  static int Ink(const CBitmap& b, uint32_t ground, int x0 = 0, int y0 = 0, int x1 = -1, int y1 = -1) {
    if (x1 < 0) x1 = b.Width();
    if (y1 < 0) y1 = b.Height();
    int n = 0;
    for (int y = y0; y < y1; ++y)
      for (int x = x0; x < x1; ++x) {
        uint32_t p = b.GetPixel(x, y);
        int d = 0;
        for (int s = 0; s < 24; s += 8) d += std::abs(static_cast<int>((p >> s) & 0xFF) - static_cast<int>((ground >> s) & 0xFF));
        if (d > 60) ++n;
      }
    return n;
  }
  // A click as the front end sends it: press and release at a client point.
  static void ClickAt(CWnd& w, int x, int y) {
    w.SendMessage(WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(x, y));
    w.SendMessage(WM_LBUTTONUP, 0, MAKELPARAM(x, y));
  }
};

TEST_F(CommonControlsTest, ColourBoxPicksThroughTheChooserAndTellsItsParent) {
  CControlsDialog dlg;
  ASSERT_TRUE(dlg.Create());
  dlg.color.SetColor(0xFF0000FFu);
  EXPECT_EQ(dlg.color_changes, 0);  // the owner's own setting is no change of the person's

  host.AnswerColor(0xFF20C040u);
  ClickAt(dlg.color, 5, 5);
  ASSERT_EQ(host.Records().size(), 1u);
  EXPECT_EQ(host.Records()[0].kind, CHeadlessUiHost::Record::Kind::kColor);
  EXPECT_EQ(host.Records()[0].text, "#FF0000FF");  // the chooser starts at the current colour
  EXPECT_EQ(dlg.color.GetColor(), 0xFF20C040u);
  EXPECT_EQ(dlg.color_changes, 1);

  // Cancelled, or the same colour again: no change and no notification.
  host.AnswerColor(std::nullopt);
  EXPECT_FALSE(dlg.color.PickColor());
  host.AnswerColor(0xFF20C040u);
  EXPECT_FALSE(dlg.color.PickColor());
  // A release outside the box (the press began inside and was dragged off) is no click.
  ClickAt(dlg.color, 500, 5);
  EXPECT_EQ(dlg.color_changes, 1);
  EXPECT_EQ(host.PendingAnswers(), 0u);

  // Disabled: no chooser at all.
  dlg.color.EnableWindow(false);
  host.AnswerColor(0xFF000000u);
  EXPECT_FALSE(dlg.color.PickColor());
  EXPECT_EQ(host.PendingAnswers(), 1u);
  EXPECT_EQ(dlg.color.GetColor(), 0xFF20C040u);
  dlg.DestroyWindow();
}

TEST_F(CommonControlsTest, ColourBoxPaintsItsColourInAFrameAndTransparencyOverAChequer) {
  CColorStatic box;
  box.SetColor(0xFFC81E1Eu);
  CBitmap canvas = Paint(box, 40, 20);
  EXPECT_EQ(canvas.GetPixel(20, 10), 0xFFC81E1Eu);
  EXPECT_EQ(canvas.GetPixel(0, 0), 0xFF707070u);  // the frame
  // Half transparent: the chequer shows through, so neighbouring cells differ.
  box.SetColor(0x800000FFu);
  canvas = Paint(box, 40, 20);
  EXPECT_NE(canvas.GetPixel(3, 3), canvas.GetPixel(7, 3));
  EXPECT_EQ(canvas.GetPixel(3, 3) >> 24, 0xFFu);
  // Disabled: washed out, not the colour itself.
  box.SetColor(0xFFC81E1Eu);
  box.EnableWindow(false);
  canvas = Paint(box, 40, 20);
  EXPECT_NE(canvas.GetPixel(20, 10), 0xFFC81E1Eu);
}

TEST_F(CommonControlsTest, LinkSendsClickedDrawsUnderlinedAndShowsTheHand) {
  CControlsDialog dlg;
  ASSERT_TRUE(dlg.Create());
  EXPECT_EQ(dlg.link.WindowCursor(), CursorKind::kHand);
  EXPECT_EQ(dlg.link.GetWindowText(), "从地图视图获取范围");
  EXPECT_FALSE(dlg.link.Visited());
  ClickAt(dlg.link, 3, 3);
  EXPECT_EQ(dlg.link_clicks, 1);
  EXPECT_TRUE(dlg.link.Visited());
  dlg.link.EnableWindow(false);
  dlg.link.Click();
  EXPECT_EQ(dlg.link_clicks, 1);
  dlg.link.EnableWindow(true);

  // Visited colour (purple ink: red and blue well above green), text drawn; a text too wide is
  // cut and ends in the ellipsis, never past the control's right edge.
  CBitmap canvas = Paint(dlg.link, 200, 16);
  int purple = 0;
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 200; ++x) {
      uint32_t p = canvas.GetPixel(x, y);
      int a = p >> 24, r = (p >> 16) & 0xFF, g = (p >> 8) & 0xFF, b = p & 0xFF;
      if (a > 128 && r > g + 40 && b > g + 40) ++purple;
    }
  EXPECT_GT(purple, 20);
  dlg.link.SetWindowText(std::string(40, 'W') + "很长的链接文字");
  canvas = Paint(dlg.link, 60, 16);
  EXPECT_GT(Ink(canvas, 0, 0, 0, 60, 16), 20);
  dlg.DestroyWindow();
}

TEST_F(CommonControlsTest, FontSampleDrawsItsTextInTheStyle) {
  CFontSampleStatic sample;
  EXPECT_EQ(sample.GetTextStyle().face, "黑体");
  sample.SetWindowText("北京 晴");
  CBitmap plain = Paint(sample, 160, 40);
  int ink = Ink(plain, 0xFFFFFFFFu, 2, 2, 158, 38);
  EXPECT_GT(ink, 30);

  // A bigger red bold style: more ink, and red ink.
  CTextStyle style = sample.GetTextStyle();
  style.size = 20;
  style.color = 0xFFFF0000u;
  style.flags = CTextStyle::kBold;
  unsigned before = sample.InvalidateCount();
  sample.SetTextStyle(style);
  EXPECT_GT(sample.InvalidateCount(), before);  // the front end repaints it
  CBitmap big = Paint(sample, 160, 40);
  EXPECT_GT(Ink(big, 0xFFFFFFFFu, 2, 2, 158, 38), ink);
  int red = 0;
  for (int y = 2; y < 38; ++y)
    for (int x = 2; x < 158; ++x)
      if (big.GetPixel(x, y) == 0xFFFF0000u) ++red;
  EXPECT_GT(red, 10);

  // Right alignment puts the ink at the right; a nonsense size still draws.
  style.size = 9;
  style.alignment = 2;
  sample.SetTextStyle(style);
  CBitmap right = Paint(sample, 160, 40);
  EXPECT_EQ(Ink(right, 0xFFFFFFFFu, 2, 2, 60, 38), 0);
  EXPECT_GT(Ink(right, 0xFFFFFFFFu, 100, 2, 158, 38), 10);
  style.size = std::numeric_limits<float>::quiet_NaN();
  sample.SetTextStyle(style);
  EXPECT_GT(Ink(Paint(sample, 160, 40), 0xFFFFFFFFu, 2, 2, 158, 38), 10);
}

TEST_F(CommonControlsTest, IconComboHoldsOneItemPerIconAndTheSelectionIsTheIcon) {
  CImageList marks(16, 16);
  for (int i = 0; i < 6; ++i) marks.Add("mark_" + std::to_string(i) + ".png");
  CControlsDialog dlg;
  dlg.icons.SetIconList(&marks);
  ASSERT_TRUE(dlg.Create());
  ASSERT_EQ(dlg.icons.GetCount(), 6);
  EXPECT_EQ(dlg.icons.GetImageList(), &marks);
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(dlg.icons.GetItemImage(i), i);
    EXPECT_EQ(dlg.icons.GetItemData(i), static_cast<uintptr_t>(i));
  }
  EXPECT_TRUE(dlg.icons.SetIconIndex(4));
  EXPECT_EQ(dlg.icons.GetIconIndex(), 4);
  dlg.icons.Select(2);  // a person's choice
  EXPECT_EQ(dlg.icons.GetIconIndex(), 2);
  // An icon the list no longer has falls back to the first.
  EXPECT_TRUE(dlg.icons.SetIconIndex(17));
  EXPECT_EQ(dlg.icons.GetIconIndex(), 0);
  dlg.DestroyWindow();

  // Created again (a dialog shown a second time), the box is filled again.
  ASSERT_TRUE(dlg.Create());
  EXPECT_EQ(dlg.icons.GetCount(), 6);
  // An empty list: nothing to choose.
  CImageList none;
  dlg.icons.SetIconList(&none);
  EXPECT_EQ(dlg.icons.GetCount(), 0);
  EXPECT_FALSE(dlg.icons.SetIconIndex(0));
  dlg.DestroyWindow();
}

TEST_F(CommonControlsTest, PictureBoxLoadsChosenPicturesAndRefusesWhatItCannotRead) {
  test::TempDir dir;
  CBitmap red;
  ASSERT_TRUE(red.Create(30, 20, 0xFFFF0000u));
  ASSERT_TRUE(SaveImageFile(red, dir.File("red.png")));
  test::WriteTestFile(dir.File("not_a_picture.png"), "this is text, not a picture");

  CControlsDialog dlg;
  ASSERT_TRUE(dlg.Create());
  EXPECT_FALSE(dlg.picture.HasPicture());
  // The empty box asks for a click.
  EXPECT_GT(Ink(Paint(dlg.picture, 80, 40), 0xFFFFFFFFu, 2, 2, 78, 38), 10);

  host.AnswerFile({dir.File("red.png")}, 1);
  ClickAt(dlg.picture, 4, 4);
  EXPECT_EQ(dlg.picture_changes, 1);
  EXPECT_EQ(dlg.picture.GetPicturePath(), dir.File("red.png"));
  ASSERT_TRUE(dlg.picture.HasPicture());
  EXPECT_EQ(dlg.picture.PictureWidth(), 30);
  CBitmap shown = Paint(dlg.picture, 80, 80);
  EXPECT_EQ(shown.GetPixel(40, 40), 0xFFFF0000u);  // scaled into the middle, aspect kept
  EXPECT_NE(shown.GetPixel(40, 8), 0xFFFF0000u);

  // A file that is not a picture: said, and the old picture stays.
  host.AnswerFile({dir.File("not_a_picture.png")}, 1);
  EXPECT_FALSE(dlg.picture.PickPicture());
  EXPECT_EQ(host.LastMessage(), "无法读取图片文件:\n" + dir.File("not_a_picture.png"));
  EXPECT_EQ(dlg.picture.GetPicturePath(), dir.File("red.png"));
  EXPECT_TRUE(dlg.picture.HasPicture());
  EXPECT_EQ(dlg.picture_changes, 1);
  // Cancelled: nothing changes.
  host.AnswerFileCancel();
  EXPECT_FALSE(dlg.picture.PickPicture());

  // A path the owner sets whose file is gone is a blank box that keeps the path.
  dlg.picture.SetPicturePath(dir.File("gone.jpg"));
  EXPECT_FALSE(dlg.picture.HasPicture());
  EXPECT_EQ(dlg.picture.GetPicturePath(), dir.File("gone.jpg"));
  dlg.DestroyWindow();
}

TEST_F(CommonControlsTest, KmlExportDialogRemembersLinesOrPoints) {
  WriteProfileInt("option", "kmzexport", 0);
  {
    CFileDialogKmzExport dlg("kml", "/tmp/contours", "KML Files (*.kml)|*.kml|AutoCAD Files (*.dxf)|*.dxf||");
    host.AnswerFile({"/tmp/contours.kml"}, 1, [](CFileDialog& d) {
      EXPECT_EQ(d.IsDlgButtonChecked(CFileDialogKmzExport::kIdLines), BST_CHECKED);
      EXPECT_EQ(d.IsDlgButtonChecked(CFileDialogKmzExport::kIdPoints), BST_UNCHECKED);
      EXPECT_EQ(d.GetDlgItemText(CFileDialogKmzExport::kIdPoints), "点");
      d.GetDlgItemAs<CButton>(CFileDialogKmzExport::kIdPoints)->Click();
      EXPECT_EQ(d.IsDlgButtonChecked(CFileDialogKmzExport::kIdLines), BST_UNCHECKED);
    });
    ASSERT_EQ(dlg.DoModal(), IDOK);
    EXPECT_TRUE(dlg.ExportPoints());
    EXPECT_EQ(dlg.GetPathName(), "/tmp/contours.kml");
  }
  EXPECT_EQ(GetProfileInt("option", "kmzexport", 0), 1);
  {
    // The next one starts at points; cancelling stores nothing.
    CFileDialogKmzExport dlg;
    host.AnswerFileCancel();
    EXPECT_EQ(dlg.DoModal(), IDCANCEL);
    EXPECT_EQ(GetProfileInt("option", "kmzexport", 0), 1);
    CFileDialogKmzExport again;
    host.AnswerFile({"/tmp/c.kml"}, 1, [](CFileDialog& d) {
      EXPECT_EQ(d.IsDlgButtonChecked(CFileDialogKmzExport::kIdPoints), BST_CHECKED);
      d.GetDlgItemAs<CButton>(CFileDialogKmzExport::kIdLines)->Click();
    });
    ASSERT_EQ(again.DoModal(), IDOK);
    EXPECT_FALSE(again.ExportPoints());
  }
  EXPECT_EQ(GetProfileInt("option", "kmzexport", 1), 0);
}

TEST_F(CommonControlsTest, SharedImageListsCursorsAndIconsNameShippedPictures) {
  // The build tree's program folder holds data/images.
  ScopedAppOptions options([](CAppOptions& o) { o.program_dir = VELMORA_BUILD_DIR "/data/"; });
  CKovraHomeExApp app;
  app.SetInstanceLockPath(kFolders.File("images_test.lock"));
  app.SetFreeSpaceProbe([](const std::string&) { return std::optional<uint64_t>(uint64_t(1) << 40); });
  ASSERT_TRUE(app.InitInstance());
  EXPECT_EQ(app.SmallImageList().GetName(0), "service_running.png");
  EXPECT_EQ(app.SmallImageList().GetName(1), "service_stopped.png");
  EXPECT_EQ(app.PointStateImages().GetImageCount(), 5);
  EXPECT_EQ(app.CheckStateImages().GetImageCount(), 4);
  EXPECT_EQ(app.MarkIconImages().GetImageCount(), CKovraHomeExApp::kMarkIconCount);
  EXPECT_EQ(app.FreeRegionCursor(), CursorKind::kFreeRegion);
  EXPECT_EQ(app.SelectionCursor(), CursorKind::kSelection);

  // Every picture a list names is there and decodes at the list's size.
  for (CImageList* list : {&app.SmallImageList(), &app.PointStateImages(), &app.CheckStateImages(), &app.MarkIconImages()}) {
    for (int i = 0; i < list->GetImageCount(); ++i) {
      CBitmap picture;
      std::string error;
      ASSERT_TRUE(LoadImageFile(AppOptions().program_dir + "images/" + list->GetName(i), &picture, &error))
          << list->GetName(i) << ": " << error;
      EXPECT_EQ(picture.Width(), list->Width());
      EXPECT_EQ(picture.Height(), list->Height());
    }
  }
  for (const char* name : {"cursor_free_region.png", "cursor_selection.png", "region_folder.png",
                           "region_polygon.png", "sat0.png", "sat4.png", "icon.png"}) {
    CBitmap picture;
    EXPECT_TRUE(LoadImageFile(AppOptions().program_dir + "images/" + name, &picture)) << name;
  }
  // The services dialog's icon resource is the application icon.
  CWnd wnd;
  SetWindowIconFromResource(&wnd, 126);
  EXPECT_EQ(wnd.IconName(), "icon.png");
  app.ExitInstance();
}

}  // namespace
}  // namespace velmora
