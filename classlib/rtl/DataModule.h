// TDataModule: the root of a non-visual form (a set of components with its handlers).
//
// A module class builds its components in its constructor through a TLoader, as loading its form
// resource would; cl::Create<TModule>(owner) then completes it and fires OnCreate.  An exception
// from OnCreate goes to Application().HandleException and the module lives on (start-up goes on).
// OnDestroy fires before any component is freed: in BeforeDestruction when the module is freed
// with Free() or by its owner (the module is then still whole), else at the start of the
// destructor.  Every module is listed in Screen().DataModules while it exists.
#pragma once

#include "classlib/rtl/Classes.h"
#include "classlib/rtl/TComponent.h"

namespace cl {

class TDataModule : public TComponent {
 public:
  explicit TDataModule(TComponent* owner);
  ~TDataModule() override;

  void AfterConstruction() override;
  void BeforeDestruction() override;

  const TNotifyEvent& OnCreate() const { return on_create_; }
  void SetOnCreate(TNotifyEvent handler) { on_create_ = std::move(handler); }
  const TNotifyEvent& OnDestroy() const { return on_destroy_; }
  void SetOnDestroy(TNotifyEvent handler) { on_destroy_ = std::move(handler); }

 private:
  TNotifyEvent on_create_;
  TNotifyEvent on_destroy_;
  bool destroy_fired_ = false;

  void DoDestroy() noexcept;
};

}  // namespace cl
