// TFormPlacement: saves a form's window placement (state, normal rectangle) into an INI file or
// a registry key when the form closes, restores it when the form shows, and imposes minimum and
// maximum window sizes or a fixed size; TFormStorage adds chosen published properties of the
// form's components (components/data/TPropsStorage.h).  The free routines carry the value
// formats and work without the component.
//
// Values of one section (integers as integers, the rest as text):
//   "Flags", "ShowCmd"            the window placement's (ShowCmd 2 when the form is the main
//                                 form of a minimised application)
//   "PixelsPerInch"               the screen's at save time
//   "MinMaxPos(WxH)", "MinMaxPos" "%d,%d,%d,%d": minimised and maximised positions, first under
//   "NormPos(WxH)", "NormPos"     the name suffixed with the screen size, then plain; NormPos is
//                                 the normal rectangle (left, top, right, bottom)
//   "ActiveControl"               the active control's name (with fpActiveControl)
//   "Visible"                     true when saved as the form was destroyed, false on close
//   "<Component>_<Property>"      TFormStorage's stored properties
// Reading tries the suffixed names first; a different "PixelsPerInch" ignores the positions.
//
// Hooked events.  On Loaded (only after a loader) the form's OnShow, OnCloseQuery and OnDestroy
// are taken over (classlib/rtl/HandlerTakeover.h, so that giving them back in any order is safe):
// show restores (when Active), a granted close query saves, destroy saves when nothing was saved
// yet.  A form never restored does not overwrite what is stored.  Exceptions of a restore or a
// save go to Application().HandleException; the form carries on.
//
// Size limits reach the window through WM_GETMINMAXINFO on a window hook (TOxWindowHook.h),
// attached only while PreventResize or a limit is set.  The window system places maximised
// windows itself: there is no maximised position to reset.  GUI thread only.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "classlib/forms/Forms.h"
#include "classlib/forms/Screen.h"
#include "classlib/rtl/HandlerTakeover.h"
#include "classlib/rtl/TStrings.h"
#include "components/ui/TOxWindowHook.h"

namespace comp {

enum TPlacementOption { fpState, fpPosition, fpActiveControl };
using TPlacementOptions = cl::TSet<TPlacementOption>;

class TFormPlacement;

// Eight limits held as the window-size answer; 0 is no limit.
class TWinMinMaxInfo : public cl::TPersistent {
 public:
  enum Index {
    kMaxPosLeft,
    kMaxPosTop,
    kMaxSizeHeight,
    kMaxSizeWidth,
    kMaxTrackHeight,
    kMaxTrackWidth,
    kMinTrackHeight,
    kMinTrackWidth
  };

  int Get(Index index) const;
  void Set(Index index, int value);
  int MinTrackWidth() const { return Get(kMinTrackWidth); }
  void SetMinTrackWidth(int v) { Set(kMinTrackWidth, v); }
  int MinTrackHeight() const { return Get(kMinTrackHeight); }
  void SetMinTrackHeight(int v) { Set(kMinTrackHeight, v); }
  int MaxTrackWidth() const { return Get(kMaxTrackWidth); }
  void SetMaxTrackWidth(int v) { Set(kMaxTrackWidth, v); }
  int MaxTrackHeight() const { return Get(kMaxTrackHeight); }
  void SetMaxTrackHeight(int v) { Set(kMaxTrackHeight, v); }
  // True when all eight limits are 0.
  bool DefaultMinMaxInfo() const;
  const cl::TMinMaxInfo& Info() const { return info_; }
  void Assign(const cl::TPersistent* source) override;

 private:
  friend class TFormPlacement;
  int* Slot(Index index);
  void Changed();

  cl::TMinMaxInfo info_;
  TFormPlacement* owner_ = nullptr;
};

class TFormPlacement;

// An object that travels with a placement: told to save after the placement is saved and to
// restore after it is restored, while the placement's storage is open (so it may use the
// placement's ReadString and WriteString).  Either side may go first: the other forgets it.
class TIniLink : public cl::TObject {
 public:
  TIniLink() = default;
  ~TIniLink() override;
  TIniLink(const TIniLink&) = delete;
  TIniLink& operator=(const TIniLink&) = delete;

  TFormPlacement* Storage() const { return storage_; }
  void SetStorage(TFormPlacement* storage);
  void SetOnSave(cl::TNotifyEvent handler) { on_save_ = std::move(handler); }
  void SetOnLoad(cl::TNotifyEvent handler) { on_load_ = std::move(handler); }

 private:
  friend class TFormPlacement;
  TFormPlacement* storage_ = nullptr;
  cl::TNotifyEvent on_save_;
  cl::TNotifyEvent on_load_;
};

class TFormPlacement : public cl::TComponent {
 public:
  explicit TFormPlacement(cl::TComponent* owner);
  ~TFormPlacement() override;

  bool Active() const { return active_; }
  void SetActive(bool active) { active_ = active; }
  // Empty reads back the default (registry key or INI file name).
  std::string IniFileName() const;
  void SetIniFileName(const std::string& name) { ini_file_name_ = name; }
  // Empty reads back DefaultSectionName of the owner.
  std::string IniSection() const;
  void SetIniSection(const std::string& section) { ini_section_ = section; }
  bool UseRegistry() const { return use_registry_; }
  void SetUseRegistry(bool value) { use_registry_ = value; }
  TPlacementOptions Options() const { return options_; }
  void SetOptions(TPlacementOptions options) { options_ = options; }
  bool PreventResize() const { return prevent_resize_; }
  void SetPreventResize(bool value);
  TWinMinMaxInfo& MinMaxInfo() { return min_max_info_; }

  const cl::TNotifyEvent& OnSavePlacement() const { return on_save_; }
  void SetOnSavePlacement(cl::TNotifyEvent handler) { on_save_ = std::move(handler); }
  const cl::TNotifyEvent& OnRestorePlacement() const { return on_restore_; }
  void SetOnRestorePlacement(cl::TNotifyEvent handler) { on_restore_ = std::move(handler); }

  void SaveFormPlacement();
  void RestoreFormPlacement();
  // Values of IniSection; a storage is opened for the call when none is open.
  int ReadInteger(const std::string& ident, int default_value);
  void WriteInteger(const std::string& ident, int value);
  std::string ReadString(const std::string& section, const std::string& ident,
                         const std::string& default_value);
  void WriteString(const std::string& section, const std::string& ident, const std::string& value);

  // The linked objects, in the order they were attached.
  const std::vector<TIniLink*>& Links() const { return links_; }

  // Attaches the window hook while PreventResize or a limit is set; detaches it otherwise.
  void UpdateHook();
  bool HookAttached() const { return hook_->WinControl() != nullptr; }

 protected:
  void Loaded() override;
  virtual void SavePlacement();
  virtual void RestorePlacement();
  cl::TObject* Storage() const;
  bool restored_ = false;

 private:
  friend class TWinMinMaxInfo;
  friend class TIniLink;
  // Tells every link (a handler may detach links meanwhile).
  void NotifyLinks(bool save);
  // Opens the storage for the life of the guard unless one is open.
  class StorageGuard;
  void OpenStorage();
  void CloseStorage();
  cl::TForm* Form() const;
  void ChainFormEvents();
  void UnchainFormEvents();
  void ApplyPreventResize();
  void FormWindowMessage(cl::TMessage& msg);
  void FormShow(cl::TObject* sender);
  void FormCloseQuery(cl::TObject* sender, bool& can_close);
  void FormDestroy(cl::TObject* sender);

  bool active_ = true;
  std::string ini_file_name_;
  std::string ini_section_;
  std::unique_ptr<cl::TObject> storage_;
  bool use_registry_ = false;
  TPlacementOptions options_;
  bool saved_ = false;
  bool destroying_ = false;
  bool prevent_resize_ = false;
  TWinMinMaxInfo min_max_info_;
  bool default_maximize_ = true;
  TOxWindowHook* hook_;
  bool chained_ = false;
  cl::THandlerTakeover<cl::TNotifyEvent> show_token_;
  cl::THandlerTakeover<cl::TCloseQueryEvent> close_query_token_;
  cl::THandlerTakeover<cl::TNotifyEvent> destroy_token_;
  cl::TNotifyEvent on_save_;
  cl::TNotifyEvent on_restore_;
  std::vector<TIniLink*> links_;
};

class TFormStorage : public TFormPlacement {
 public:
  explicit TFormStorage(cl::TComponent* owner) : TFormPlacement(owner) {}

  // Lines "Component.Property".
  cl::TStrings& StoredProps() { return stored_props_; }
  void SetStoredProps(const cl::TStrings& props) { stored_props_.Assign(&props); }

 protected:
  void Loaded() override;
  void SavePlacement() override;
  void RestorePlacement() override;

 private:
  cl::TStringList stored_props_;
};

// Storage: a cl::TIniFile or a cl::TRegIniFile; any other object reads the default and writes
// nothing.
std::string StorageReadString(cl::TObject* storage, const std::string& section,
                              const std::string& ident, const std::string& default_value);
int StorageReadInteger(cl::TObject* storage, const std::string& section, const std::string& ident,
                       int default_value);
// Into an INI file a value that starts and ends with the same quote goes inside one more pair of
// double quotes, so that the file's quote stripping gives it back as it was.
void StorageWriteString(cl::TObject* storage, const std::string& section, const std::string& ident,
                        const std::string& value);
void StorageWriteInteger(cl::TObject* storage, const std::string& section, const std::string& ident,
                         int value);
void WriteFormPlacement(cl::TForm* form, cl::TObject* storage, const std::string& section);
void ReadFormPlacement(cl::TForm* form, cl::TObject* storage, const std::string& section,
                       bool load_state, bool load_position);

// A form: its class name; a control: its form's class name and its name; another component of
// a form: "<FormClass>.<Name>"; else its name; "" for none.
std::string DefaultSectionName(cl::TComponent* component);
// The executable's name with the extension ".INI".
std::string DefaultIniFileName();
// "Software\" and the executable's name without extension.
std::string DefaultRegistryKey();

}  // namespace comp
