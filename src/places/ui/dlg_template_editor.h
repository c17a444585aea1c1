// CDlgTemplateEditor (template 283): shows a map mark's pop-up HTML as a preview in an HTML view
// and, with the editing flag, as source in an edit field (1355), switched through the system
// menu ("编辑", "预览"); "模板编辑器" rewrites the address cards of the text through the address
// book. The text is UTF-8; the preview gets it in GBK unless it declares UTF-8, as the HTML view
// reads pages that declare no character set or gb2312 as GBK.
#pragma once
#include <memory>
#include <string>
#include <string_view>

#include "shell/dialog_ex.h"
#include "shell/menu_edit.h"

namespace velmora {

class CHtmlViewEx;

class CDlgTemplateEditor : public CDialogEx {
 public:
  static constexpr int kIdSource = 1355;
  static constexpr int kIdView = 1356;  // the HTML view, made at initialisation
  static constexpr UINT SC_EDIT = 16;
  static constexpr UINT SC_PREVIEW = 32;
  static constexpr UINT SC_CARDS = 48;
  static constexpr UINT ID_IMPORT = 57601;
  static constexpr const char* kNoCards = "未找到可识别模板!";
  static constexpr const char* kTooLarge = "文件太大(超过16MB),未导入。";
  static constexpr size_t kMaxImport = size_t(16) << 20;
  // The pop-up of a new mark.
  static constexpr const char* kDefaultText =
      "<html><head><meta http-equiv=Content-Type content=\"text/html; charset=gb2312\"><title>标注弹窗</title>"
      "</head><div class=Section1 style='layout-grid:15.6pt'><p class=MsoNormal align=center <span "
      "lang=EN-US><img src=\"$$ROOT_DATA$$images/logo.png\"></span></p><p class=MsoNormal align=center "
      "style='text-align:center'><span style='font-size:42.0pt;font-family:楷体_GB2312;color:red'>Velmora</span>"
      "</p></div></html>";

  CDlgTemplateEditor(std::string caption, bool editing, CWnd* parent = nullptr);
  ~CDlgTemplateEditor() override;

  // The template text (set before showing; read after closing, also after Cancel when editing).
  const std::string& Text() const { return text_; }
  void SetText(std::string text) { text_ = std::move(text); }
  bool IsEditing() const { return editing_; }
  CMenuEdit& Source() { return source_; }
  CHtmlViewEx* View() { return view_.get(); }

  // The address-card function ("模板编辑器").
  void EditCards();
  // The bytes the HTML view gets for a UTF-8 text: GBK unless the text declares UTF-8.
  static std::string PageBytes(std::string_view text);

  void OnOK() override;
  void OnCancel() override;

 protected:
  bool OnInitDialog() override;

 private:
  void TakeFields();
  void ShowFields();
  void ShowSource();
  void ShowPreview();
  void Import();
  void FitToClient(int cx, int cy);

  CMenuEdit source_;
  std::string text_ = kDefaultText;
  std::unique_ptr<CHtmlViewEx> view_;
  std::string caption_;
  bool editing_;
};

}  // namespace velmora
