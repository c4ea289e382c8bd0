// TDBNavManager: sets, for the whole process, the captions and hints that every navigator bar
// shows where its own lists leave an entry empty.  The defaults live in this unit; the manager
// only reads and writes them, so any number of managers (or none) may exist.  GUI thread only.
#pragma once

#include <string>

#include "classlib/rtl/TComponent.h"

namespace comp {

// The button kinds of a navigator bar, in layout order.
enum TNavButtons { navInsert, navEdit, navDelete, navPost, navCancel };
constexpr int kNavButtonCount = 5;

// The process-wide default caption and hint of a kind.
const std::string& DefaultNavLabel(TNavButtons kind);
const std::string& DefaultNavHint(TNavButtons kind);

class TDBNavManager : public cl::TComponent {
 public:
  explicit TDBNavManager(cl::TComponent* owner) : cl::TComponent(owner) {}

  const std::string& Label(TNavButtons kind) const { return DefaultNavLabel(kind); }
  void SetLabel(TNavButtons kind, const std::string& label);
  const std::string& Hint(TNavButtons kind) const { return DefaultNavHint(kind); }
  void SetHint(TNavButtons kind, const std::string& hint);

  // The published names.
  void SetInsertLabel(const std::string& s) { SetLabel(navInsert, s); }
  void SetEditLabel(const std::string& s) { SetLabel(navEdit, s); }
  void SetDeleteLabel(const std::string& s) { SetLabel(navDelete, s); }
  void SetPostLabel(const std::string& s) { SetLabel(navPost, s); }
  void SetCancelLabel(const std::string& s) { SetLabel(navCancel, s); }
  void SetInsertHint(const std::string& s) { SetHint(navInsert, s); }
  void SetEditHint(const std::string& s) { SetHint(navEdit, s); }
  void SetDeleteHint(const std::string& s) { SetHint(navDelete, s); }
  void SetPostHint(const std::string& s) { SetHint(navPost, s); }
  void SetCancelHint(const std::string& s) { SetHint(navCancel, s); }
};

}  // namespace comp
