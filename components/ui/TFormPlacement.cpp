#include "components/ui/TFormPlacement.h"

#include <algorithm>
#include <cstdio>

#include "classlib/rtl/Application.h"
#include "classlib/rtl/IniFiles.h"
#include "classlib/rtl/RegIniFile.h"
#include "classlib/rtl/TextUtils.h"
#include "components/data/StrRoutines.h"
#include "components/data/TPropsStorage.h"

namespace comp {
namespace {

std::string FourInts(int a, int b, int c, int d) {
  char text[64];
  std::snprintf(text, sizeof text, "%d,%d,%d,%d", a, b, c, d);
  return text;
}

std::string ScreenSuffix() {
  char text[32];
  std::snprintf(text, sizeof text, "(%dx%d)", cl::GetSystemMetrics(cl::SM_CXSCREEN),
                cl::GetSystemMetrics(cl::SM_CYSCREEN));
  return text;
}

int WordAsInt(const std::string& text, int n, int default_value) {
  const std::string word = ExtractWord(n, text, CharSet(" ,"));
  try {
    size_t used = 0;
    const int value = std::stoi(word, &used);
    return used == word.size() ? value : default_value;
  } catch (const std::exception&) {
    return default_value;  // not a number: the default, as for a missing value
  }
}

// The suffixed value for this screen size, else the plain one.
std::string ReadPosValue(cl::TObject* storage, const std::string& section,
                         const std::string& name) {
  std::string value = StorageReadString(storage, section, name + ScreenSuffix(), "");
  if (value.empty()) value = StorageReadString(storage, section, name, "");
  return value;
}

void StorageWriteBool(cl::TObject* storage, const std::string& section, const std::string& ident,
                      bool value) {
  if (auto* ini = dynamic_cast<cl::TIniFile*>(storage)) {
    ini->WriteBool(section, ident, value);
  } else if (auto* reg = dynamic_cast<cl::TRegIniFile*>(storage)) {
    reg->WriteBool(section, ident, value);
  }
}

}  // namespace

// ---- Free routines ---------------------------------------------------------------------------

std::string StorageReadString(cl::TObject* storage, const std::string& section,
                              const std::string& ident, const std::string& default_value) {
  if (auto* ini = dynamic_cast<cl::TIniFile*>(storage)) {
    return ini->ReadString(section, ident, default_value);
  }
  if (auto* reg = dynamic_cast<cl::TRegIniFile*>(storage)) {
    return reg->ReadString(section, ident, default_value);
  }
  return default_value;
}

int StorageReadInteger(cl::TObject* storage, const std::string& section, const std::string& ident,
                       int default_value) {
  if (auto* ini = dynamic_cast<cl::TIniFile*>(storage)) {
    return ini->ReadInteger(section, ident, default_value);
  }
  if (auto* reg = dynamic_cast<cl::TRegIniFile*>(storage)) {
    return reg->ReadInteger(section, ident, default_value);
  }
  return default_value;
}

void StorageWriteString(cl::TObject* storage, const std::string& section, const std::string& ident,
                        const std::string& value) {
  if (auto* ini = dynamic_cast<cl::TIniFile*>(storage)) {
    const bool quoted = value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
                        value.back() == value.front();
    ini->WriteString(section, ident, quoted ? "\"" + value + "\"" : value);
  } else if (auto* reg = dynamic_cast<cl::TRegIniFile*>(storage)) {
    reg->WriteString(section, ident, value);
  }
}

void StorageWriteInteger(cl::TObject* storage, const std::string& section, const std::string& ident,
                         int value) {
  if (auto* ini = dynamic_cast<cl::TIniFile*>(storage)) {
    ini->WriteInteger(section, ident, value);
  } else if (auto* reg = dynamic_cast<cl::TRegIniFile*>(storage)) {
    reg->WriteInteger(section, ident, value);
  }
}

void WriteFormPlacement(cl::TForm* form, cl::TObject* storage, const std::string& section) {
  cl::TWindowPlacement placement;
  cl::GetWindowPlacement(form->Handle(), &placement);
  if (form == cl::Application().MainForm() && cl::Application().IsIconic()) {
    placement.showCmd = cl::SW_SHOWMINIMIZED;
  }
  StorageWriteInteger(storage, section, "Flags", static_cast<int>(placement.flags));
  StorageWriteInteger(storage, section, "ShowCmd", static_cast<int>(placement.showCmd));
  StorageWriteInteger(storage, section, "PixelsPerInch", cl::Screen().PixelsPerInch());
  const std::string min_max = FourInts(placement.ptMinPosition.X, placement.ptMinPosition.Y,
                                       placement.ptMaxPosition.X, placement.ptMaxPosition.Y);
  const cl::TRect& r = placement.rcNormalPosition;
  const std::string norm = FourInts(r.Left, r.Top, r.Right, r.Bottom);
  StorageWriteString(storage, section, "MinMaxPos" + ScreenSuffix(), min_max);
  StorageWriteString(storage, section, "MinMaxPos", min_max);
  StorageWriteString(storage, section, "NormPos" + ScreenSuffix(), norm);
  StorageWriteString(storage, section, "NormPos", norm);
}

void ReadFormPlacement(cl::TForm* form, cl::TObject* storage, const std::string& section,
                       bool load_state, bool load_position) {
  if (!load_state && !load_position) return;
  cl::TWindowPlacement placement;
  cl::GetWindowPlacement(form->Handle(), &placement);
  if (!form->Visible()) placement.showCmd = cl::SW_HIDE;
  if (load_position) {
    placement.flags = static_cast<uint32_t>(
        StorageReadInteger(storage, section, "Flags", static_cast<int>(placement.flags)));
    bool found = false;
    const std::string min_max = ReadPosValue(storage, section, "MinMaxPos");
    if (!min_max.empty()) {
      found = true;
      placement.ptMinPosition = {WordAsInt(min_max, 1, 0), WordAsInt(min_max, 2, 0)};
      placement.ptMaxPosition = {WordAsInt(min_max, 3, 0), WordAsInt(min_max, 4, 0)};
    }
    const std::string norm = ReadPosValue(storage, section, "NormPos");
    if (!norm.empty()) {
      found = true;
      placement.rcNormalPosition = {WordAsInt(norm, 1, form->Left()),
                                    WordAsInt(norm, 2, form->Top()),
                                    WordAsInt(norm, 3, form->Left() + form->Width()),
                                    WordAsInt(norm, 4, form->Top() + form->Height())};
    }
    const int ppi = cl::Screen().PixelsPerInch();
    if (StorageReadInteger(storage, section, "PixelsPerInch", ppi) != ppi) found = false;
    if (found) {
      cl::TRect& r = placement.rcNormalPosition;
      if (form->BorderStyle() != cl::bsSizeable) {
        r = cl::Bounds(r.Left, r.Top, form->Width(), form->Height());
      }
      if (r.Right > r.Left) {
        if (form->Position() == cl::poScreenCenter) form->SetPosition(cl::poDesigned);
        cl::SetWindowPlacement(form->Handle(), &placement);
      }
    }
  }
  if (load_state) {
    cl::TWindowState state = cl::wsNormal;
    if (form == cl::Application().MainForm() && form->FormStyle() == cl::fsNormal &&
        form->Position() == cl::poDefault) {
      state = cl::wsMaximized;
    }
    switch (StorageReadInteger(storage, section, "ShowCmd", 0)) {
      case 1:
      case 5:
      case 9:
        state = cl::wsNormal;
        break;
      case 2:
      case 6:
      case 7:
        state = cl::wsMinimized;
        break;
      case 3:
        state = cl::wsMaximized;
        break;
      default:
        break;
    }
    if (state == cl::wsMinimized && form == cl::Application().MainForm()) {
      cl::PostMessage(cl::Application().Handle(), cl::WM_SYSCOMMAND, cl::SC_MINIMIZE, 0);
      return;
    }
    form->SetWindowState(state);
  }
  if (form->HandleAllocated()) form->Invalidate();
}

std::string DefaultSectionName(cl::TComponent* component) {
  if (component == nullptr) return "";
  if (dynamic_cast<cl::TForm*>(component) != nullptr) return component->ClassName();
  if (auto* control = dynamic_cast<cl::TControl*>(component)) {
    if (cl::TForm* form = cl::GetParentForm(control)) return form->ClassName() + control->Name();
    if (control->Parent() != nullptr) return control->Parent()->Name() + control->Name();
    return control->Name();
  }
  if (dynamic_cast<cl::TForm*>(component->Owner()) != nullptr) {
    return component->Owner()->ClassName() + "." + component->Name();
  }
  return component->Name();
}

namespace {
std::string ExeBaseName() {
  const std::string name = cl::ExtractFileName(cl::Application().ExeName());
  const size_t dot = name.rfind('.');
  return dot == std::string::npos ? name : name.substr(0, dot);
}
}  // namespace

std::string DefaultIniFileName() { return ExeBaseName() + ".INI"; }
std::string DefaultRegistryKey() { return "Software\\" + ExeBaseName(); }

// ---- TWinMinMaxInfo --------------------------------------------------------------------------

int* TWinMinMaxInfo::Slot(Index index) {
  switch (index) {
    case kMaxPosLeft:
      return &info_.ptMaxPosition.X;
    case kMaxPosTop:
      return &info_.ptMaxPosition.Y;
    case kMaxSizeHeight:
      return &info_.ptMaxSize.Y;
    case kMaxSizeWidth:
      return &info_.ptMaxSize.X;
    case kMaxTrackHeight:
      return &info_.ptMaxTrackSize.Y;
    case kMaxTrackWidth:
      return &info_.ptMaxTrackSize.X;
    case kMinTrackHeight:
      return &info_.ptMinTrackSize.Y;
    case kMinTrackWidth:
      return &info_.ptMinTrackSize.X;
  }
  return &info_.ptReserved.X;
}

int TWinMinMaxInfo::Get(Index index) const {
  return *const_cast<TWinMinMaxInfo*>(this)->Slot(index);
}

void TWinMinMaxInfo::Set(Index index, int value) {
  int* slot = Slot(index);
  if (*slot == value) return;
  *slot = value;
  Changed();
}

bool TWinMinMaxInfo::DefaultMinMaxInfo() const {
  for (int i = kMaxPosLeft; i <= kMinTrackWidth; ++i) {
    if (Get(static_cast<Index>(i)) != 0) return false;
  }
  return true;
}

void TWinMinMaxInfo::Assign(const cl::TPersistent* source) {
  if (auto* other = dynamic_cast<const TWinMinMaxInfo*>(source)) {
    info_ = other->info_;
    Changed();
    return;
  }
  cl::TPersistent::Assign(source);
}

void TWinMinMaxInfo::Changed() {
  if (owner_ != nullptr && !owner_->ComponentState().Contains(cl::csLoading)) owner_->UpdateHook();
}

// ---- TFormPlacement --------------------------------------------------------------------------

class TFormPlacement::StorageGuard {
 public:
  explicit StorageGuard(TFormPlacement* placement)
      : placement_(placement), opened_(placement->storage_ == nullptr) {
    if (opened_) placement_->OpenStorage();
  }
  ~StorageGuard() {
    if (opened_) placement_->CloseStorage();
  }

 private:
  TFormPlacement* placement_;
  bool opened_;
};

TFormPlacement::TFormPlacement(cl::TComponent* owner)
    : cl::TComponent(owner), hook_(new TOxWindowHook(this)) {
  if (dynamic_cast<cl::TForm*>(owner) != nullptr) options_ = {fpState, fpPosition};
  min_max_info_.owner_ = this;
  hook_->SetAfterMessage(
      [this](cl::TObject*, cl::TMessage& msg, bool&) { FormWindowMessage(msg); });
}

TFormPlacement::~TFormPlacement() {
  CloseStorage();
  hook_->SetWinControl(nullptr);
  UnchainFormEvents();
  min_max_info_.owner_ = nullptr;
  for (TIniLink* link : links_) link->storage_ = nullptr;
}

std::string TFormPlacement::IniFileName() const {
  if (!ini_file_name_.empty()) return ini_file_name_;
  return use_registry_ ? DefaultRegistryKey() : DefaultIniFileName();
}

std::string TFormPlacement::IniSection() const {
  return ini_section_.empty() ? DefaultSectionName(Owner()) : ini_section_;
}

cl::TForm* TFormPlacement::Form() const { return dynamic_cast<cl::TForm*>(Owner()); }

cl::TObject* TFormPlacement::Storage() const { return storage_.get(); }

void TFormPlacement::OpenStorage() {
  CloseStorage();
  if (use_registry_) {
    storage_ = std::make_unique<cl::TRegIniFile>(IniFileName());
  } else {
    storage_ = std::make_unique<cl::TIniFile>(IniFileName());
  }
}

void TFormPlacement::CloseStorage() { storage_.reset(); }

void TFormPlacement::SetPreventResize(bool value) {
  if (value == prevent_resize_) return;
  prevent_resize_ = value;
  ApplyPreventResize();
}

void TFormPlacement::ApplyPreventResize() {
  cl::TForm* form = Form();
  if (form == nullptr) return;
  if (prevent_resize_) default_maximize_ = form->BorderIcons().Contains(cl::biMaximize);
  cl::TBorderIcons icons = form->BorderIcons();
  if (!prevent_resize_ && default_maximize_ && form->BorderStyle() != cl::bsDialog) {
    icons.Include(cl::biMaximize);
  } else {
    icons.Exclude(cl::biMaximize);
  }
  const bool was_active = active_;
  active_ = false;
  form->SetBorderIcons(icons);
  active_ = was_active;
  if (!ComponentState().Contains(cl::csLoading)) UpdateHook();
}

void TFormPlacement::UpdateHook() {
  cl::TForm* form = Form();
  const bool wanted = form != nullptr && (prevent_resize_ || !min_max_info_.DefaultMinMaxInfo());
  hook_->SetWinControl(wanted ? form : nullptr);
}

void TFormPlacement::FormWindowMessage(cl::TMessage& msg) {
  if (msg.Msg != cl::WM_GETMINMAXINFO || msg.LParam == 0) return;
  auto* info = reinterpret_cast<cl::TMinMaxInfo*>(msg.LParam);
  cl::TForm* form = Form();
  if (prevent_resize_) {
    if (form != nullptr && form->HandleAllocated() && form->Visible()) {
      info->ptMinTrackSize = info->ptMaxTrackSize = {form->Width(), form->Height()};
    }
    msg.Result = 1;
    return;
  }
  if (!min_max_info_.DefaultMinMaxInfo()) {
    const cl::TMinMaxInfo& limits = min_max_info_.Info();
    auto apply = [](int& target, int limit) {
      if (limit != 0) target = limit;
    };
    apply(info->ptMaxSize.X, limits.ptMaxSize.X);
    apply(info->ptMaxSize.Y, limits.ptMaxSize.Y);
    apply(info->ptMaxPosition.X, limits.ptMaxPosition.X);
    apply(info->ptMaxPosition.Y, limits.ptMaxPosition.Y);
    apply(info->ptMinTrackSize.X, limits.ptMinTrackSize.X);
    apply(info->ptMinTrackSize.Y, limits.ptMinTrackSize.Y);
    apply(info->ptMaxTrackSize.X, limits.ptMaxTrackSize.X);
    apply(info->ptMaxTrackSize.Y, limits.ptMaxTrackSize.Y);
  } else {
    info->ptMaxPosition = {0, 0};
  }
  msg.Result = 1;
}

void TFormPlacement::Loaded() {
  const bool was_loading = ComponentState().Contains(cl::csLoading);
  cl::TComponent::Loaded();
  if (was_loading) ChainFormEvents();
  UpdateHook();
}

void TFormPlacement::ChainFormEvents() {
  cl::TForm* form = Form();
  if (form == nullptr || chained_) return;
  chained_ = true;
  show_token_.Install(form->OnShow(), [this](cl::TObject* s) { FormShow(s); });
  form->SetOnShow(show_token_.Handler());
  close_query_token_.Install(form->OnCloseQuery(),
                             [this](cl::TObject* s, bool& c) { FormCloseQuery(s, c); });
  form->SetOnCloseQuery(close_query_token_.Handler());
  destroy_token_.Install(form->OnDestroy(), [this](cl::TObject* s) { FormDestroy(s); });
  form->SetOnDestroy(destroy_token_.Handler());
  default_maximize_ = form->BorderIcons().Contains(cl::biMaximize);
  if (prevent_resize_) ApplyPreventResize();
}

void TFormPlacement::UnchainFormEvents() {
  cl::TForm* form = Form();
  if (form == nullptr || !chained_) return;
  chained_ = false;
  form->SetOnShow(show_token_.Release(form->OnShow()));
  form->SetOnCloseQuery(close_query_token_.Release(form->OnCloseQuery()));
  form->SetOnDestroy(destroy_token_.Release(form->OnDestroy()));
}

void TFormPlacement::FormShow(cl::TObject* sender) {
  if (active_) {
    try {
      RestoreFormPlacement();
    } catch (...) {
      cl::Application().HandleException(this);
    }
  }
  show_token_.CallPrevious(sender);
}

void TFormPlacement::FormCloseQuery(cl::TObject* sender, bool& can_close) {
  close_query_token_.CallPrevious(sender, can_close);
  cl::TForm* form = Form();
  if (can_close && active_ && form != nullptr && form->HandleAllocated()) {
    try {
      SaveFormPlacement();
    } catch (...) {
      cl::Application().HandleException(this);
    }
  }
}

void TFormPlacement::FormDestroy(cl::TObject* sender) {
  if (active_ && !saved_) {
    destroying_ = true;
    try {
      SaveFormPlacement();
    } catch (...) {
      cl::Application().HandleException(this);
    }
    destroying_ = false;
  }
  destroy_token_.CallPrevious(sender);
}

void TFormPlacement::SaveFormPlacement() {
  if (!restored_ && active_) return;
  StorageGuard guard(this);
  SavePlacement();
  if (on_save_) on_save_(this);
  saved_ = true;
}

void TFormPlacement::RestoreFormPlacement() {
  saved_ = false;
  {
    StorageGuard guard(this);
    RestorePlacement();
    restored_ = true;
    if (on_restore_) on_restore_(this);
    cl::TForm* form = Form();
    if (options_.Contains(fpActiveControl) && form != nullptr) {
      const std::string name = StorageReadString(storage_.get(), IniSection(), "ActiveControl", "");
      auto* control = dynamic_cast<cl::TWinControl*>(form->FindComponent(name));
      if (control != nullptr && control->CanFocus()) form->SetActiveControl(control);
    }
  }
}

void TFormPlacement::SavePlacement() {
  cl::TForm* form = Form();
  if (form == nullptr) return;
  const std::string section = IniSection();
  WriteFormPlacement(form, storage_.get(), section);
  if (options_.Contains(fpActiveControl) && form->ActiveControl() != nullptr) {
    StorageWriteString(storage_.get(), section, "ActiveControl", form->ActiveControl()->Name());
  }
  StorageWriteBool(storage_.get(), section, "Visible", destroying_);
  NotifyLinks(true);
}

void TFormPlacement::RestorePlacement() {
  cl::TForm* form = Form();
  if (form == nullptr) return;
  ReadFormPlacement(form, storage_.get(), IniSection(), options_.Contains(fpState),
                    options_.Contains(fpPosition));
  NotifyLinks(false);
}

void TFormPlacement::NotifyLinks(bool save) {
  const std::vector<TIniLink*> links = links_;
  for (TIniLink* link : links) {
    if (std::find(links_.begin(), links_.end(), link) == links_.end()) continue;
    const cl::TNotifyEvent& handler = save ? link->on_save_ : link->on_load_;
    if (handler) handler(link);
  }
}

TIniLink::~TIniLink() { SetStorage(nullptr); }

void TIniLink::SetStorage(TFormPlacement* storage) {
  if (storage == storage_) return;
  if (storage_ != nullptr) std::erase(storage_->links_, this);
  storage_ = storage;
  if (storage_ != nullptr) storage_->links_.push_back(this);
}

int TFormPlacement::ReadInteger(const std::string& ident, int default_value) {
  StorageGuard guard(this);
  return StorageReadInteger(storage_.get(), IniSection(), ident, default_value);
}

void TFormPlacement::WriteInteger(const std::string& ident, int value) {
  StorageGuard guard(this);
  StorageWriteInteger(storage_.get(), IniSection(), ident, value);
}

std::string TFormPlacement::ReadString(const std::string& section, const std::string& ident,
                                       const std::string& default_value) {
  StorageGuard guard(this);
  return StorageReadString(storage_.get(), section, ident, default_value);
}

void TFormPlacement::WriteString(const std::string& section, const std::string& ident,
                                 const std::string& value) {
  StorageGuard guard(this);
  StorageWriteString(storage_.get(), section, ident, value);
}

// ---- TFormStorage ----------------------------------------------------------------------------

void TFormStorage::Loaded() {
  TFormPlacement::Loaded();
  if (Owner() != nullptr) BindStoredList(Owner(), stored_props_, true);
}

namespace {
void EraseSectionOf(cl::TObject* storage, const std::string& section) {
  if (auto* ini = dynamic_cast<cl::TIniFile*>(storage)) {
    ini->EraseSection(section);
  } else if (auto* reg = dynamic_cast<cl::TRegIniFile*>(storage)) {
    reg->EraseSection(section);
  }
}
}  // namespace

void TFormStorage::SavePlacement() {
  TFormPlacement::SavePlacement();
  if (Owner() == nullptr) return;
  TPropsStorage props;
  props.SetSection(IniSection());
  props.SetOnWriteString([this](const std::string& s, const std::string& i, const std::string& v) {
    WriteString(s, i, v);
  });
  props.SetOnEraseSection([this](const std::string& s) { EraseSectionOf(Storage(), s); });
  props.StoreObjectsProperties(Owner(), stored_props_);
}

void TFormStorage::RestorePlacement() {
  TFormPlacement::RestorePlacement();
  restored_ = true;
  if (Owner() == nullptr) return;
  TPropsStorage props;
  props.SetSection(IniSection());
  props.SetOnReadString([this](const std::string& s, const std::string& i, const std::string& d) {
    return ReadString(s, i, d);
  });
  props.LoadObjectsProperties(Owner(), stored_props_);
}

}  // namespace comp
