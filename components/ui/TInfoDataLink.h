// TInfoDataLink: a data link that hands every notification of its data source on to the
// control that owns it (navigator bar, record information panel).  Owned by that control.
// GUI thread only.
#pragma once

#include <functional>

#include "classlib/db/TDataLink.h"

namespace comp {

class TInfoDataLink : public cl::TDataLink {
 public:
  std::function<void()> on_active_changed;
  std::function<void()> on_check_browse_mode;
  std::function<void()> on_data_set_changed;
  std::function<void(int distance)> on_data_set_scrolled;
  std::function<void()> on_editing_changed;

 protected:
  void ActiveChanged() override {
    if (on_active_changed) on_active_changed();
  }
  void CheckBrowseMode() override {
    if (on_check_browse_mode) on_check_browse_mode();
  }
  void DataSetChanged() override {
    if (on_data_set_changed) on_data_set_changed();
  }
  void DataSetScrolled(int distance) override {
    if (on_data_set_scrolled) on_data_set_scrolled(distance);
  }
  void EditingChanged() override {
    if (on_editing_changed) on_editing_changed();
  }
};

}  // namespace comp
