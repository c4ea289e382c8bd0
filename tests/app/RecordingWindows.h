// A stand-in for the main window: it records what the modules ask of it and answers as a test
// (or the headless station) wants.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "app/AppWindows.h"

namespace mirvel_test {

class RecordingWindows : public mirvel::TAppWindows {
 public:
  RecordingWindows() { mirvel::SetAppWindows(this); }
  ~RecordingWindows() override { mirvel::SetAppWindows(nullptr); }

  bool IsMinimized() override { return minimized; }
  bool PendingCheck() override { return pending; }
  void SetPendingCheck(bool value) override { pending = value; }
  void PostToMainWindow(uint32_t message) override {
    posted.push_back(message);
    if (on_post) on_post(message);
  }
  void ShowConnected(bool connected) override { looks.push_back(connected); }
  void StartTrayAnimation() override { ++animations; }
  void SetUserComboRows(int value) override { rows = value; }
  std::string CallerComboText() override { return caller_text; }
  void SetCallerComboItems(const std::vector<mirvel::TComboItem>& items) override {
    callers = items;
  }
  void SetCompanyComboItems(const std::vector<mirvel::TComboItem>& items) override {
    companies = items;
  }
  bool AskSubject(std::string& subject) override {
    asked_subject = subject;
    if (!subject_answer.empty()) subject = subject_answer;
    return !subject_answer.empty();
  }
  void FocusSubjectEdit() override { focus.push_back("subject"); }
  void FocusRecipientCombo() override { focus.push_back("recipient"); }
  bool NewMessageDialogOpen() override { return dialog_open; }
  bool ShowNewMessageDialog(bool unread) override {
    alerts.push_back(unread);
    if (on_alert) on_alert(unread);
    return go_see;
  }

  // Answers.
  bool minimized = true;
  std::string subject_answer = "Sujet";  // empty: the subject dialog is cancelled
  std::string caller_text;
  bool dialog_open = false;
  bool go_see = false;  // "&Ignorer"
  std::function<void(uint32_t)> on_post;
  std::function<void(bool)> on_alert;

  // Records.
  bool pending = false;
  std::vector<uint32_t> posted;
  std::vector<bool> looks;
  int animations = 0;
  int rows = -1;
  std::vector<mirvel::TComboItem> callers;
  std::vector<mirvel::TComboItem> companies;
  std::string asked_subject;
  std::vector<std::string> focus;
  std::vector<bool> alerts;
};

}  // namespace mirvel_test
