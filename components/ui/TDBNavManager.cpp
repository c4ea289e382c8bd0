#include "components/ui/TDBNavManager.h"

namespace comp {
namespace {

std::string& LabelSlot(TNavButtons kind) {
  static std::string labels[kNavButtonCount] = {"&Nouveau", "&Modifier", "&Effacer", "&Sauver",
                                                "&Annuler"};
  return labels[kind];
}

std::string& HintSlot(TNavButtons kind) {
  static std::string hints[kNavButtonCount] = {
      "Ajouter un nouvel enregistrement", "Modifier l'enregistrement", "Supprimer l'enregistrement",
      "Sauver les modifications", "Annuler les modifications"};
  return hints[kind];
}

}  // namespace

const std::string& DefaultNavLabel(TNavButtons kind) { return LabelSlot(kind); }
const std::string& DefaultNavHint(TNavButtons kind) { return HintSlot(kind); }

void TDBNavManager::SetLabel(TNavButtons kind, const std::string& label) {
  LabelSlot(kind) = label;
}

void TDBNavManager::SetHint(TNavButtons kind, const std::string& hint) { HintSlot(kind) = hint; }

}  // namespace comp
