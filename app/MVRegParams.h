// The registry parameter store: parameters are values of registry keys under the store's root
// key (classlib/rtl/Registry.h), the path being the key's path.
//
// Reads never fail on a missing key or value: they give "", 0 or 0.0 (the registry class itself
// raises for a missing integer or float, so those reads look first).  Opening a parameter's key
// may create it (and so a read may create it) when the store is neither ReadOnly nor without
// AutoCreateParam.  Writes raise the read-only error before the registry is touched.  Errors of
// the registry itself (an unreadable or unwritable store) pass through.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "app/MVParams.h"
#include "classlib/rtl/Registry.h"

namespace mirvel {

class EMVRegParamError : public cl::Exception {
 public:
  using cl::Exception::Exception;
};

class TRegParamDatabase;

class TMVRegParam : public TMVParam {
 public:
  TMVRegParam(TRegParamDatabase* database, std::string path, std::string name);

  std::string AsString() override;
  void SetAsString(const std::string& value) override;
  int32_t AsInteger() override;
  void SetAsInteger(int32_t value) override;
  double AsFloat() override;
  void SetAsFloat(double value) override;
  // The key opens without being created and holds the value.
  bool Exists() override;
  // Both raise EMVRegParamError: the registry store keeps no streams.
  void SaveToStream(cl::TStream& stream) override;
  void LoadFromStream(cl::TStream& stream) override;

  cl::TRegistry& Registry() { return registry_; }
  // Opens the parameter's key (see the header comment); false when it does not open.
  bool OpenKey(bool can_create);

 private:
  TRegParamDatabase* store() const;
  // REQUIRES not ReadOnly.  Opens the key for a write and checks that the value may be written.
  void PrepareWrite();

  cl::TRegistry registry_;
};

class TRegParamDatabase : public TCustomParamDatabase {
 public:
  explicit TRegParamDatabase(cl::TComponent* owner);

  cl::HKEY RootKey() const { return root_key_; }
  // EMVParamError while active.
  void SetRootKey(cl::HKEY root_key);

 protected:
  std::unique_ptr<TMVParam> CreateParam(const std::string& path, const std::string& name) override;
  void DoActivate() override;
  void DoDeactivate() override;

 private:
  cl::HKEY root_key_ = cl::HKEY_CURRENT_USER;
  // The store's own accessor: activation applies the root key to it, deactivation closes it.
  TMVRegParam own_param_{this, "", ""};
};

}  // namespace mirvel
