#include "classlib/rtl/TComponent.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "classlib/rtl/Application.h"

namespace cl {
namespace {

// Records what happens to it into a shared journal.
class Probe : public TComponent {
 public:
  Probe(TComponent* owner, std::vector<std::string>* journal, std::string tag)
      : TComponent(owner), journal_(journal), tag_(std::move(tag)) {}
  ~Probe() override {
    std::string line = "~" + tag_;
    for (TComponent* sibling : siblings_seen_destroying) {
      line += sibling->ComponentState().Contains(csDestroying) ? " +" : " -";
    }
    journal_->push_back(line);
  }

  std::vector<TComponent*> siblings_seen_destroying;
  std::vector<std::pair<TComponent*, TOperation>> notes;
  TComponent* reference = nullptr;

 protected:
  void Notification(TComponent* component, TOperation operation) override {
    TComponent::Notification(component, operation);
    notes.emplace_back(component, operation);
    if (operation == opRemove && component == reference) reference = nullptr;
  }

 private:
  std::vector<std::string>* journal_;
  std::string tag_;
};

// A sibling that recognises data sources by class, as a navigator manager queues them.
class DataSourceLike : public TComponent {
 public:
  using TComponent::TComponent;
};

class Watcher : public TComponent {
 public:
  using TComponent::TComponent;
  std::vector<TComponent*> queued;

 protected:
  void Notification(TComponent* component, TOperation operation) override {
    TComponent::Notification(component, operation);
    if (operation == opInsert && dynamic_cast<DataSourceLike*>(component) != nullptr) {
      queued.push_back(component);
    }
    if (operation == opRemove) std::erase(queued, component);
  }
};

class Forgetful : public TComponent {
 public:
  using TComponent::TComponent;

 protected:
  void Notification(TComponent*, TOperation) override {}  // no inherited call
};

class Renamed : public TComponent {
 public:
  using TComponent::TComponent;
  std::vector<std::string> names;
  void SetName(const std::string& name) override {
    TComponent::SetName(name);
    names.push_back(name);
  }
};

TEST(TComponentTest, OwnerDestroysLastCreatedFirstAfterMarkingAllDestroying) {
  std::vector<std::string> journal;
  auto* owner = new TComponent(nullptr);
  auto* a = Create<Probe>(owner, &journal, "A");
  auto* b = Create<Probe>(owner, &journal, "B");
  auto* c = Create<Probe>(owner, &journal, "C");
  c->siblings_seen_destroying = {a, b, owner};
  a->siblings_seen_destroying = {owner};
  EXPECT_EQ(owner->ComponentCount(), 3);
  EXPECT_EQ(b->ComponentIndex(), 1);
  delete owner;
  EXPECT_EQ(journal, (std::vector<std::string>{"~C + + +", "~B", "~A +"}));
}

TEST(TComponentTest, RemovingAChildKeepsItAliveAndRenumbersTheRest) {
  std::vector<std::string> journal;
  TComponent owner(nullptr);
  auto* a = Create<Probe>(&owner, &journal, "A");
  auto* b = Create<Probe>(&owner, &journal, "B");
  owner.RemoveComponent(a);
  EXPECT_EQ(a->Owner(), nullptr);
  EXPECT_EQ(a->ComponentIndex(), -1);
  EXPECT_EQ(owner.ComponentCount(), 1);
  EXPECT_EQ(owner.Components(0), b);
  EXPECT_THROW(owner.Components(1), EListError);
  EXPECT_TRUE(journal.empty());
  delete a;
  EXPECT_EQ(journal, (std::vector<std::string>{"~A"}));
  EXPECT_EQ(owner.ComponentCount(), 1);
}

TEST(TComponentTest, SiblingsLearnOfInsertionsByFinalClassAndOfRemovals) {
  TComponent form(nullptr);
  auto* watcher = Create<Watcher>(&form);
  auto* plain = Create<TComponent>(&form);
  auto* source = Create<DataSourceLike>(&form);
  EXPECT_EQ(watcher->queued, std::vector<TComponent*>{source});
  delete source;
  EXPECT_TRUE(watcher->queued.empty());
  delete plain;

  // Components made without Create are owned all the same, but nobody was told.
  auto* silent = new DataSourceLike(&form);
  EXPECT_TRUE(watcher->queued.empty());
  EXPECT_EQ(silent->Owner(), &form);
}

TEST(TComponentTest, FreeNotificationClearsCrossOwnerReferenceBothWays) {
  std::vector<std::string> journal;
  TComponent form1(nullptr);
  TComponent form2(nullptr);
  auto* holder = Create<Probe>(&form1, &journal, "H");
  auto* target = Create<Probe>(&form2, &journal, "T");
  holder->reference = target;
  holder->FreeNotification(target);
  delete target;
  EXPECT_EQ(holder->reference, nullptr);

  // The holder dies first: the target must not call it afterwards.
  auto* target2 = Create<Probe>(&form2, &journal, "T2");
  auto* holder2 = Create<Probe>(&form1, &journal, "H2");
  holder2->reference = target2;
  holder2->FreeNotification(target2);
  target2->notes.clear();
  delete holder2;
  ASSERT_EQ(target2->notes.size(), 1u);
  EXPECT_EQ(target2->notes[0].first, holder2);
  EXPECT_EQ(target2->notes[0].second, opRemove);
  delete target2;  // the link is gone: no call into the dead holder (ASan checks)

  // RemoveFreeNotification undoes the link.
  auto* target3 = Create<Probe>(&form2, &journal, "T3");
  holder->reference = target3;
  holder->FreeNotification(target3);
  holder->RemoveFreeNotification(target3);
  delete target3;
  EXPECT_EQ(holder->reference, target3);
}

TEST(TComponentTest, OverrideWithoutInheritedCallIsReported) {
  std::vector<TComponent*> offenders;
  SetNotificationCheck(
      [&](TComponent* receiver, TComponent*, TOperation) { offenders.push_back(receiver); });
  TComponent form(nullptr);
  auto* forgetful = Create<Forgetful>(&form);
  auto* fine = Create<Watcher>(&form);
  offenders.clear();
  delete Create<TComponent>(&form);
  SetNotificationCheck(nullptr);
  // Told twice (insert and remove); the well-behaved sibling never shows up.
  EXPECT_EQ(offenders, (std::vector<TComponent*>{forgetful, forgetful}));
  EXPECT_NE(fine, nullptr);
}

TEST(TComponentTest, NamesAreIdentifiersUniquePerOwnerIgnoringCase) {
  TComponent form(nullptr);
  auto* a = Create<TComponent>(&form);
  auto* b = Create<TComponent>(&form);
  a->SetName("TableMessages");
  EXPECT_EQ(form.FindComponent("tablemessages"), a);
  EXPECT_EQ(form.FindComponent("TABLEMESSAGES"), a);
  EXPECT_EQ(form.FindComponent(""), nullptr);
  try {
    b->SetName("TABLEmessages");
    FAIL() << "duplicate name accepted";
  } catch (const EComponentError& e) {
    EXPECT_EQ(e.Message(), "Un composant nomm\xE9 TABLEmessages existe d\xE9j\xE0");
  }
  EXPECT_EQ(b->Name(), "");
  a->SetName("TABLEMESSAGES");  // its own name in another case
  EXPECT_EQ(a->Name(), "TABLEMESSAGES");
  try {
    b->SetName("2Tables");
    FAIL() << "invalid name accepted";
  } catch (const EComponentError& e) {
    EXPECT_EQ(e.Message(), "\xAB 2Tables \xBB n'est pas un nom de composant correct");
  }
  EXPECT_THROW(b->SetName("a b"), EComponentError);
  b->SetName("_x9");
  EXPECT_EQ(form.FindComponent("_X9"), b);

  // The same name under two owners is fine; inserting a clash into an owner is refused.
  TComponent other(nullptr);
  auto* c = Create<TComponent>(&other);
  c->SetName("TableMessages");
  other.RemoveComponent(c);
  EXPECT_THROW(form.InsertComponent(c), EComponentError);
  EXPECT_EQ(c->Owner(), nullptr);
  delete c;
}

TEST(TComponentTest, SetNameIsVirtual) {
  TComponent form(nullptr);
  auto* session = Create<Renamed>(&form);
  TComponent* base = session;
  base->SetName("Session1");
  EXPECT_EQ(session->names, std::vector<std::string>{"Session1"});
}

TEST(TComponentTest, NotificationDuringDestructionGoesToApplicationHandler) {
  class Throwing : public TComponent {
   public:
    using TComponent::TComponent;

   protected:
    void Notification(TComponent* c, TOperation op) override {
      TComponent::Notification(c, op);
      if (op == opRemove) throw Exception("boom");
    }
  };
  std::vector<std::string> seen;
  const TExceptionEvent saved = Application().OnException();
  Application().SetOnException([&](TObject*, Exception& e) { seen.push_back(e.Message()); });
  {
    TComponent form(nullptr);
    auto* thrower = Create<Throwing>(nullptr);
    auto* target = Create<TComponent>(&form);
    thrower->FreeNotification(target);
    delete target;  // the throwing notification must not escape the destructor
    delete thrower;
  }
  Application().SetOnException(saved);
  EXPECT_EQ(seen, std::vector<std::string>{"boom"});
}

TEST(TComponentTest, OwnedComponentFailingBeforeDestructionIsStillFreed) {
  class Refusing : public Probe {
   public:
    using Probe::Probe;
    void BeforeDestruction() override {
      Probe::BeforeDestruction();
      throw Exception("still busy");
    }
  };
  std::vector<std::string> journal;
  std::vector<std::string> seen;
  const TExceptionEvent saved = Application().OnException();
  Application().SetOnException([&](TObject* sender, Exception& e) {
    seen.push_back(dynamic_cast<TComponent*>(sender)->Name() + ": " + e.Message());
  });
  auto* form = new TComponent(nullptr);
  Create<Probe>(form, &journal, "A");
  Create<Refusing>(form, &journal, "R")->SetName("Refusing");
  Create<Probe>(form, &journal, "C");
  delete form;  // must neither end the program nor leave R behind (ASan checks the leak)
  Application().SetOnException(saved);
  EXPECT_EQ(seen, std::vector<std::string>{"Refusing: still busy"});
  EXPECT_EQ(journal, (std::vector<std::string>{"~C", "~R", "~A"}));
}

}  // namespace
}  // namespace cl
