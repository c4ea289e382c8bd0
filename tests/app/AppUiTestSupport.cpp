#include "tests/app/AppUiTestSupport.h"

#include <atomic>
#include <cstdlib>
#include <filesystem>

#include "app/MirvelSchema.h"
#include "classlib/dbforms/DBGrids.h"
#include "classlib/rtl/DateTime.h"
#include "components/ui/TDBNavBarre.h"
#include "engine/components/TTesseraTable.h"

namespace mirvel_test {

Workstation::Workstation(const std::vector<TUserSeed>& users) {
  static std::atomic<int> count{0};
  directory_ = TestRoot() + "/db" + std::to_string(++count);
  std::filesystem::create_directories(directory_);
  mirvel::CreateMirvelDatabase(directory_, {"alice", "Alice Martin"}, cl::Now());
  cl::TRegistry registry;
  registry.SetRootKey(cl::HKEY_LOCAL_MACHINE);
  registry.OpenKey(mirvel::kRegistryKey, true);
  registry.WriteString(mirvel::kRegistryDatabaseValue, directory_);
  windows.minimized = false;
  cl::Create<mirvel::TDMBDMirvel>(nullptr);
  cl::Create<mirvel::TDMMirvel>(nullptr);
  mirvel::DMBDMirvel->Connect();
  if (!mirvel::DMBDMirvel->FConnected) throw cl::Exception("the workstation did not connect");
  for (const TUserSeed& user : users) AddUser(user);
}

Workstation::~Workstation() {
  cl::ClearModalActions();
  // Forms released by their close are freed by the loop: before the modules they point at.
  PumpFor(30);
  if (mirvel::DMBDMirvel != nullptr) mirvel::DMBDMirvel->Disconnect();
  delete mirvel::DMMirvel;
  delete mirvel::DMBDMirvel;
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

int32_t Workstation::AddUser(const TUserSeed& user) {
  tessera::TTesseraTable* users = dm().TableUtilisateurs;
  users->Append();
  dm().TableUtilisateursNomReseau->SetAsString(user.login);
  dm().TableUtilisateursNomComplet->SetAsString(user.full_name);
  if (user.statut >= 0) {
    dm().TableUtilisateursStatut->SetAsInteger(user.statut);
  }
  users->Post();
  // A null status becomes 0 on post; the seed asks for null, so it is written back afterwards.
  if (user.statut < 0) {
    users->Edit();
    dm().TableUtilisateursStatut->Clear();
    users->SetBeforePost(nullptr);
    users->Post();
    users->SetBeforePost([](cl::TDataSet* d) { mirvel::DMMirvel->TableUtilisateursBeforePost(d); });
  }
  return dm().TableUtilisateursNoUtilisateur->AsInteger();
}

int32_t Workstation::AddClient(const std::string& societe, const std::string& ville,
                               const std::string& tel_standard,
                               const std::vector<std::pair<std::string, std::string>>& callers) {
  tessera::TTesseraTable* clients = dm().TableClients;
  tessera::TTesseraTable* inters = dm().TableInterlocuteurs;
  if (!clients->Active()) clients->Open();
  if (!inters->Active()) inters->Open();
  clients->Append();
  clients->FieldByName("Societe")->SetAsString(societe);
  clients->FieldByName("Ville")->SetAsString(ville);
  clients->FieldByName("TelStandard")->SetAsString(tel_standard);
  clients->Post();
  const int32_t number = dm().TableClientsNoSociete->AsInteger();
  for (const auto& [name, tel] : callers) {
    inters->Append();
    inters->FieldByName("Nom")->SetAsString(name);
    inters->FieldByName("Tel1")->SetAsString(tel);
    inters->Post();
  }
  return number;
}

std::string BuiltText(cl::TComponent* form, const TGoldenText& golden) {
  const std::string component = golden.component;
  const std::string property = golden.property;
  if (property == "Title") {
    // "Grid/Field": the column's title as the grid shows it.
    const size_t slash = component.find('/');
    auto* grid = dynamic_cast<cl::TDBGrid*>(form->FindComponent(component.substr(0, slash)));
    if (grid == nullptr) return "<missing grid>";
    for (int i = 0; i < grid->ColumnCount(); ++i) {
      if (grid->Column(i)->FieldName() == component.substr(slash + 1)) {
        return grid->Column(i)->TitleCaption();
      }
    }
    return "<missing column>";
  }
  cl::TComponent* target = component.empty() ? form : form->FindComponent(component);
  if (target == nullptr) return "<missing " + component + ">";
  if (property == "Label" || property == "Delete") {
    auto* bar = dynamic_cast<comp::TDBNavBarre*>(target);
    if (bar == nullptr) return "<not a bar>";
    if (property == "Delete") return bar->DeleteMessage();
    return bar->Button(comp::navInsert)->Caption();
  }
  auto* control = dynamic_cast<cl::TControl*>(target);
  if (control == nullptr) return "<not a control>";
  if (property == "Hint") return control->Hint();
  return control->Caption();
}

void ExpectTexts(cl::TComponent* form, const std::vector<TGoldenText>& texts) {
  for (const TGoldenText& golden : texts) {
    EXPECT_EQ(BuiltText(form, golden), golden.text)
        << form->Name() << "." << golden.component << "." << golden.property;
  }
}

int CountPixels(cl::TControl* control, const cl::TRect& rect, cl::TColor color) {
  const QImage image = Widget(control)->grab().toImage();
  const int r = color & 0xFF, g = (color >> 8) & 0xFF, b = (color >> 16) & 0xFF;
  int count = 0;
  for (int y = std::max(0, rect.Top); y < std::min(image.height(), rect.Bottom); ++y) {
    for (int x = std::max(0, rect.Left); x < std::min(image.width(), rect.Right); ++x) {
      const QRgb p = image.pixel(x, y);
      // Text is smoothed: a pixel counts when it is near the colour and keeps its hue (the
      // differences between channels), so that green blended into white never reads as grey.
      const bool near = std::abs(qRed(p) - r) <= 40 && std::abs(qGreen(p) - g) <= 40 &&
                        std::abs(qBlue(p) - b) <= 40;
      const bool hue = std::abs((qGreen(p) - qRed(p)) - (g - r)) <= 24 &&
                       std::abs((qGreen(p) - qBlue(p)) - (g - b)) <= 24;
      if (near && hue) ++count;
    }
  }
  return count;
}

}  // namespace mirvel_test
