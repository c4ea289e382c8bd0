#include "classlib/rtl/Units.h"

#include <algorithm>
#include <vector>

#include "classlib/rtl/Application.h"

namespace cl {
namespace {

struct Unit {
  std::string name;
  std::function<void()> init;
  std::function<void()> final;
  int order;
  bool initialized;
};

struct Registry {
  std::vector<Unit> units;               // registration order
  std::vector<std::string> initialized;  // initialisation order
};

Registry& Units() {
  static Registry registry;
  return registry;
}

Unit* Find(const std::string& name) {
  for (Unit& u : Units().units) {
    if (u.name == name) return &u;
  }
  return nullptr;
}

}  // namespace

void RegisterUnit(const std::string& name, std::function<void()> init, std::function<void()> final,
                  int order) {
  if (Unit* existing = Find(name)) {
    existing->init = std::move(init);
    existing->final = std::move(final);
    existing->order = order;
    return;
  }
  Units().units.push_back(Unit{name, std::move(init), std::move(final), order, false});
}

void InitializeUnits() {
  std::vector<Unit*> pending;
  for (Unit& u : Units().units) {
    if (!u.initialized) pending.push_back(&u);
  }
  std::stable_sort(pending.begin(), pending.end(),
                   [](const Unit* a, const Unit* b) { return a->order < b->order; });
  for (Unit* u : pending) {
    try {
      if (u->init) u->init();
    } catch (...) {
      FinalizeUnits();
      throw;
    }
    u->initialized = true;
    Units().initialized.push_back(u->name);
  }
}

void FinalizeUnits() {
  auto& order = Units().initialized;
  while (!order.empty()) {
    Unit* u = Find(order.back());
    order.pop_back();
    if (u == nullptr || !u->initialized) continue;
    u->initialized = false;
    if (!u->final) continue;
    try {
      u->final();
    } catch (...) {
      Application().HandleException(nullptr);
    }
  }
}

void ClearUnits() {
  Units().units.clear();
  Units().initialized.clear();
}

}  // namespace cl
