#include "classlib/rtl/DataModule.h"

#include "classlib/rtl/Application.h"

namespace cl {

TDataModule::TDataModule(TComponent* owner) : TComponent(owner) { Screen().AddDataModule(this); }

TDataModule::~TDataModule() {
  Destroying();
  DoDestroy();
  Screen().RemoveDataModule(this);
}

void TDataModule::BeforeDestruction() {
  TComponent::BeforeDestruction();
  DoDestroy();
}

void TDataModule::DoDestroy() noexcept {
  if (destroy_fired_) return;
  destroy_fired_ = true;
  if (!on_destroy_) return;
  try {
    TNotifyEvent handler = on_destroy_;
    handler(this);
  } catch (...) {
    Application().HandleException(this);
  }
}

void TDataModule::AfterConstruction() {
  TComponent::AfterConstruction();
  if (!on_create_) return;
  try {
    TNotifyEvent handler = on_create_;
    handler(this);
  } catch (...) {
    Application().HandleException(this);
  }
}

}  // namespace cl
