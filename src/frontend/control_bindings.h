// The standard controls of the window model on Qt widgets: static texts (QLabel; a static that
// draws itself shows its picture), push buttons, check boxes, radio buttons and group boxes,
// edit fields (QLineEdit, or QPlainTextEdit when the field is several lines high), combo boxes
// and progress bars. Each binding shows the model's state and passes a person's action to the
// model through the same helpers the headless tests use (Click, Type, Select).
#pragma once
#include <string>
#include <vector>

#include "frontend/model_binding.h"

class QLabel;

namespace velmora {

class CStatic;
class CButton;
class CEdit;
class CComboBox;
class CProgressCtrl;
class CImageList;

class CStaticBinding : public CModelBinding {
 public:
  CStaticBinding(CStatic& window, QWidget* parent);
  void SyncFromModel() override;
  // A static's own children (a chart's tool tip) live in its label.
  QWidget* ChildContainer() override { return Widget(); }
  // Fits the text to the label's size (also after a resize).
  void FitText();

 private:
  QString full_;
};

class CButtonBinding : public CModelBinding {
 public:
  CButtonBinding(CButton& window, QWidget* parent);
  void SyncFromModel() override;
  void FitText();

 private:
  QString full_;
};

class CEditBinding : public CModelBinding {
 public:
  CEditBinding(CEdit& window, QWidget* parent, bool multi_line);
  void SyncFromModel() override;
  // The widget's selection into the model's (byte offsets), before the model acts on it.
  void PushSelection();
  bool IsMultiLine() const { return multi_line_; }

 private:
  bool multi_line_;
};

class CComboBinding : public CModelBinding {
 public:
  CComboBinding(CComboBox& window, QWidget* parent);
  void SyncFromModel() override;

 private:
  std::vector<std::string> items_;
  std::vector<int> images_;
  const CImageList* image_list_ = nullptr;
};

class CProgressBinding : public CModelBinding {
 public:
  CProgressBinding(CProgressCtrl& window, QWidget* parent);
  void SyncFromModel() override;
};

// True when a control of this height shows several lines of the widget's font.
bool IsMultiLineHeight(const QWidget& widget, int height);

}  // namespace velmora
