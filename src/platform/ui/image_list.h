// CImageList: an image list held as names by index. Controls and the application refer to images
// by their index; a desktop front end loads the named pictures.
#pragma once
#include <string>
#include <vector>

namespace velmora {

class CImageList {
 public:
  CImageList() = default;
  CImageList(int cx, int cy) : cx_(cx), cy_(cy) {}
  void Create(int cx, int cy) {
    cx_ = cx;
    cy_ = cy;
    names_.clear();
  }
  // Appends an image; returns its index.
  int Add(const std::string& name) {
    names_.push_back(name);
    return static_cast<int>(names_.size()) - 1;
  }
  int GetImageCount() const { return static_cast<int>(names_.size()); }
  // "" when the index is out of range.
  std::string GetName(int index) const {
    return index >= 0 && index < GetImageCount() ? names_[static_cast<size_t>(index)] : std::string();
  }
  int Width() const { return cx_; }
  int Height() const { return cy_; }

 private:
  int cx_ = 16, cy_ = 16;
  std::vector<std::string> names_;
};

}  // namespace velmora
