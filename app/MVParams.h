// Named parameters (string, integer or floating-point values under a path) read and written
// through a parameter store component.  The store is abstract: a concrete store (the registry one,
// MVRegParams.h) supplies the parameter objects through its factory.
//
// Store life cycle:
//
//   inactive --SetActive(true), or GetParam with AutoActive--> active
//   active   --SetActive(false), GetParam with AutoClose (at once with AutoCloseInterval 0,
//              else when the one-shot auto-close timer fires)--> inactive
//
// Setting Active while the owning form or module is still loading only records the wish; Loaded
// then activates the store.  A GetParam cancels an auto-close still pending from an earlier one.
// The auto-close timer runs on the class library's event loop (TTimer.h) and frees itself in its
// tick.  Parameter objects belong to the caller and keep working after the store deactivates.
//
// Threads: GUI thread only.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "classlib/rtl/Exceptions.h"
#include "classlib/rtl/Streams.h"
#include "classlib/rtl/TComponent.h"
#include "classlib/rtl/TTimer.h"

namespace mirvel {

class EMVParamError : public cl::Exception {
 public:
  using cl::Exception::Exception;
};

class TCustomParamDatabase;

// One named value under a path of a store.
class TMVParam : public cl::TObject {
 public:
  TMVParam(TCustomParamDatabase* database, std::string path, std::string name);

  TCustomParamDatabase* Database() const { return database_; }
  const std::string& Path() const { return path_; }
  const std::string& Name() const { return name_; }

  virtual std::string AsString() = 0;
  virtual void SetAsString(const std::string& value) = 0;
  virtual int32_t AsInteger() = 0;
  virtual void SetAsInteger(int32_t value) = 0;
  virtual double AsFloat() = 0;
  virtual void SetAsFloat(double value) = 0;
  virtual bool Exists() = 0;
  virtual void SaveToStream(cl::TStream& stream) = 0;
  virtual void LoadFromStream(cl::TStream& stream) = 0;

 private:
  TCustomParamDatabase* database_;
  std::string path_;
  std::string name_;
};

// A path of a store.
class TMVPath : public cl::TObject {
 public:
  explicit TMVPath(TCustomParamDatabase* database) : database_(database) {}
  TCustomParamDatabase* Database() const { return database_; }
  const std::string& Path() const { return path_; }
  void SetPath(std::string path) { path_ = std::move(path); }

 private:
  TCustomParamDatabase* database_;
  std::string path_;
};

class TCustomParamDatabase : public cl::TComponent {
 public:
  explicit TCustomParamDatabase(cl::TComponent* owner);
  ~TCustomParamDatabase() override;

  bool Active() const { return active_; }
  void SetActive(bool value);
  bool AutoActive() const { return auto_active_; }
  void SetAutoActive(bool value) { auto_active_ = value; }
  bool AutoClose() const { return auto_close_; }
  void SetAutoClose(bool value) { auto_close_ = value; }
  uint32_t AutoCloseInterval() const { return auto_close_interval_; }
  void SetAutoCloseInterval(uint32_t ms) { auto_close_interval_ = ms; }
  const std::string& DefaultPath() const { return default_path_; }
  void SetDefaultPath(std::string path) { default_path_ = std::move(path); }
  bool AutoCreateParam() const { return auto_create_param_; }
  void SetAutoCreateParam(bool value) { auto_create_param_ = value; }
  bool ReadOnly() const { return read_only_; }
  void SetReadOnly(bool value) { read_only_ = value; }
  TMVPath& PathObject() { return path_; }

  // The parameter `name` under `path` (DefaultPath when `path` is empty).  Raises EMVParamError
  // when the store is inactive and AutoActive does not (or cannot) activate it.
  std::unique_ptr<TMVParam> GetParam(const std::string& path, const std::string& name);

 protected:
  void Loaded() override;
  // The concrete parameter of this store.
  virtual std::unique_ptr<TMVParam> CreateParam(const std::string& path,
                                                const std::string& name) = 0;
  // Called when the store becomes active or inactive; the base does nothing.
  virtual void DoActivate() {}
  virtual void DoDeactivate() {}

 private:
  void FreeAutoCloseTimer();
  void StartAutoCloseTimer();

  bool active_ = false;
  bool auto_active_ = true;
  bool auto_close_ = true;
  uint32_t auto_close_interval_ = 0;
  std::string default_path_;
  bool auto_create_param_ = true;
  bool read_only_ = false;
  // Active was set while loading.
  bool loading_active_ = false;
  cl::TTimer* auto_close_timer_ = nullptr;  // owned as a component; frees itself in its tick
  TMVPath path_{this};
};

}  // namespace mirvel
