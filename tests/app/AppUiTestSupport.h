// Test support of the application's windows: a workstation on a fresh database made by the
// creation tool, with both modules connected as user "alice", the recording main window, the
// message-box responder, and helpers to find forms, read texts and sample rendered pixels.
// Qt comes only through the visual layer's test-support header.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/InitDb.h"
#include "app/MBDMirvel.h"
#include "app/MMirvel.h"
#include "app/MVRegParams.h"
#include "classlib/forms/Forms.h"
#include "classlib/rtl/Application.h"
#include "classlib/rtl/Cp1252.h"
#include "classlib/rtl/Registry.h"
#include "tests/app/RecordingWindows.h"
#include "tests/classlib/forms/FormsTestSupport.h"

namespace mirvel_test {

// The test program's private directory (set by the main).
const std::string& TestRoot();

// One user to add after the database's own two (0 and alice, 1).
struct TUserSeed {
  std::string login;
  std::string full_name;
  int statut;  // -1: null
};

class Workstation {
 public:
  // Makes a database in a new directory, registers it, creates the modules and connects.
  explicit Workstation(const std::vector<TUserSeed>& users = {});
  ~Workstation();

  mirvel::TDMMirvel& dm() { return *mirvel::DMMirvel; }
  const std::string& directory() const { return directory_; }
  // Appends a user through the module (numbered 2, 3, ... in order); returns its number.
  int32_t AddUser(const TUserSeed& user);
  // Appends a client and its callers (name, Tel1) directly; returns the client's number.
  int32_t AddClient(const std::string& societe, const std::string& ville,
                    const std::string& tel_standard,
                    const std::vector<std::pair<std::string, std::string>>& callers);

  RecordingWindows windows;
  UiRecorder ui;

 private:
  std::string directory_;
};

// The first form of type T the program has, or nullptr.
template <class T>
T* FindForm() {
  for (int i = 0; i < cl::Screen().FormCount(); ++i) {
    if (auto* form = dynamic_cast<T*>(cl::Screen().Forms(i))) return form;
  }
  return nullptr;
}

// One expected text of a built form: a component (the form itself when empty), the property
// ("Caption", "Hint", "Title" for a grid column "Grid/Field", "Label" of a nav bar button) and
// the Windows-1252 text.
struct TGoldenText {
  const char* component;
  const char* property;
  const char* text;
};
// The property's text as built, or "<missing ...>".
std::string BuiltText(cl::TComponent* form, const TGoldenText& golden);
void ExpectTexts(cl::TComponent* form, const std::vector<TGoldenText>& texts);

// The number of pixels of the control's rendering inside `rect` (its own coordinates) drawn in
// `color` (0x00BBGGRR), smoothed text edges included as long as they keep the colour's hue.
int CountPixels(cl::TControl* control, const cl::TRect& rect, cl::TColor color);

}  // namespace mirvel_test
