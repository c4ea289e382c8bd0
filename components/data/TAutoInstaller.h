// TAutoInstaller keeps the program up to date from a shared folder: when the folder holds a
// newer executable of the same name, it writes out the installer program it carries, starts it
// and ends the program so that the installer can replace it.
//
// Names:
//   installer     the executable's directory + "/~#Instal.Exe" (mode 0755)
//   update file   UpdatePath + "/" + the executable's file name; none when UpdatePath is blank
//   command line  "<installer>" "<update file>" "<executable>" "<ErrorTime>" "<title>" <pid>
//                 (ErrorTime as FloatToStr writes it; the installer takes either separator)
// The installer image is the resource named after the component's class ("TAUTOINSTALLER"), a
// zlib stream of [u32 LE length N][N bytes] (components/installer).  The installer waits for this
// process to end, then replaces the executable; it does not restart the program.
//
// The executable's directory must be writable by the user: otherwise Install raises and the
// program runs on, un-updated.
//
// Threads: GUI thread only.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "classlib/rtl/Classes.h"
#include "classlib/rtl/Exceptions.h"
#include "classlib/rtl/TComponent.h"
#include "components/data/Helpers.h"

namespace comp {

class EAutoInstallError : public cl::Exception {
 public:
  using cl::Exception::Exception;
};

// What the launcher asks of the operating system, replaceable by tests (a delete that fails, a
// pause that only counts, a start that fails).  Empty members keep the real behaviour.
struct TAutoInstallerHooks {
  std::function<bool(const std::string& file_name)> delete_file;
  std::function<void(int ms)> sleep;
  std::function<void(std::string_view command_line, TProcessInformation& info)> start_process;
};
void SetAutoInstallerHooks(TAutoInstallerHooks hooks);

class TAutoInstaller : public cl::TComponent {
 public:
  explicit TAutoInstaller(cl::TComponent* owner);

  bool AutoCheck() const { return auto_check_; }
  void SetAutoCheck(bool auto_check) { auto_check_ = auto_check; }
  const std::string& UpdatePath() const { return update_path_; }
  void SetUpdatePath(const std::string& path) { update_path_ = path; }
  // Seconds.
  double ErrorTime() const { return error_time_; }
  void SetErrorTime(double seconds) { error_time_ = seconds; }
  bool UseRegistry() const { return use_registry_; }
  void SetUseRegistry(bool use) { use_registry_ = use; }
  const std::string& RegistryKey() const { return registry_key_; }
  void SetRegistryKey(const std::string& key) { registry_key_ = key; }
  const cl::TNotifyEvent& BeforeInstall() const { return before_install_; }
  void SetBeforeInstall(cl::TNotifyEvent handler) { before_install_ = std::move(handler); }

  // When NeedsUpdate: BeforeInstall, then Install.
  void CheckAndInstall();
  // Deletes a left-over installer (retrying every 100 ms for ErrorTime), then: the update file
  // exists and its last-write time is strictly later than the executable's.
  bool NeedsUpdate();
  // Writes the installer, starts it and halts the program (exit code 0).  Any failure before
  // the halt (resource missing or damaged, file not writable, start failed) removes the
  // installer file and raises; the program then goes on.
  void Install();

  std::string InstallerPath() const;
  std::string UpdateFile() const;
  std::string CommandLine() const;

 protected:
  // With UseRegistry, UpdatePath from "AutoInstall_UpdatePath" of RegistryKey under
  // HKEY_LOCAL_MACHINE (when the key exists); then CheckAndInstall when AutoCheck.
  void Loaded() override;

 private:
  void WriteInstaller(const std::string& path);

  bool auto_check_ = false;
  std::string update_path_;
  double error_time_ = 5.0;
  bool use_registry_ = false;
  std::string registry_key_;
  cl::TNotifyEvent before_install_;
};

}  // namespace comp
