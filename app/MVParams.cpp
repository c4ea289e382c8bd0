#include "app/MVParams.h"

#include <algorithm>
#include <cstdint>
#include <utility>

namespace mirvel {

TMVParam::TMVParam(TCustomParamDatabase* database, std::string path, std::string name)
    : database_(database), path_(std::move(path)), name_(std::move(name)) {}

TCustomParamDatabase::TCustomParamDatabase(cl::TComponent* owner) : cl::TComponent(owner) {}

// A pending auto-close timer is an owned component: it goes with the store, before its tick can
// reach a freed store.
TCustomParamDatabase::~TCustomParamDatabase() = default;

void TCustomParamDatabase::SetActive(bool value) {
  if (ComponentState().Contains(cl::csLoading)) {
    loading_active_ = value;
    return;
  }
  if (value == active_) return;
  if (value) {
    DoActivate();
    active_ = true;
  } else {
    active_ = false;
    DoDeactivate();
  }
}

void TCustomParamDatabase::Loaded() {
  cl::TComponent::Loaded();
  if (loading_active_) SetActive(true);
}

std::unique_ptr<TMVParam> TCustomParamDatabase::GetParam(const std::string& path,
                                                         const std::string& name) {
  FreeAutoCloseTimer();
  if (!active_) {
    if (auto_active_) SetActive(true);
    if (!active_) throw EMVParamError("Base de param\xE8tres inactive. Op\xE9ration impossible.");
  }
  const std::string& effective = !path.empty() ? path : default_path_;
  std::unique_ptr<TMVParam> param = CreateParam(effective, name);
  if (auto_close_) {
    if (auto_close_interval_ > 0) {
      StartAutoCloseTimer();
    } else {
      SetActive(false);
    }
  }
  return param;
}

void TCustomParamDatabase::FreeAutoCloseTimer() {
  delete auto_close_timer_;
  auto_close_timer_ = nullptr;
}

void TCustomParamDatabase::StartAutoCloseTimer() {
  auto* timer = new cl::TTimer(this);
  auto_close_timer_ = timer;
  timer->SetEnabled(false);
  timer->SetInterval(static_cast<int>(std::min<uint32_t>(auto_close_interval_, INT32_MAX)));
  timer->SetOnTimer([this, timer](cl::TObject*) {
    auto_close_timer_ = nullptr;
    delete timer;
    SetActive(false);
  });
  timer->SetEnabled(true);
}

}  // namespace mirvel
