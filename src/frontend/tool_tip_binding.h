// CToolTipBinding: a tool tip of the window model (CToolTipCtrl) shown with Qt's tool tip next
// to the pointer over its owner's widget, while the model says it is up; its own widget is an
// empty, hidden placeholder that only ties the binding's life to the owner's widget.
#pragma once
#include <QString>

#include "frontend/model_binding.h"

namespace velmora {

class CToolTipCtrl;

class CToolTipBinding : public CModelBinding {
 public:
  CToolTipBinding(CToolTipCtrl& tip, QWidget* parent);
  void SyncFromModel() override;
  void Detach() override;

 private:
  bool showing_ = false;
};

}  // namespace velmora
