#include "ConformanceFixture.h"

#include "classlib/db/TBlobField.h"
#include "classlib/rtl/DateTime.h"
#include "classlib/rtl/NumberText.h"

namespace cl::test {

void CreateStandardFields(TDataSet* dataset, TComponent* owner) {
  auto* numero = Create<TIntegerField>(owner);
  numero->SetFieldName("Numero");
  numero->SetDataSet(dataset);
  auto* nom = Create<TStringField>(owner);
  nom->SetFieldName("Nom");
  nom->SetSize(20);
  nom->SetDataSet(dataset);
  auto* date = Create<TDateTimeField>(owner);
  date->SetFieldName("DateAppel");
  date->SetRequired(true);
  date->SetDataSet(dataset);
  auto* message = Create<TMemoField>(owner);
  message->SetFieldName("Message");
  message->SetDataSet(dataset);
  auto* calcul = Create<TStringField>(owner);
  calcul->SetFieldName("Calcul");
  calcul->SetSize(30);
  calcul->SetFieldKind(fkCalculated);
  calcul->SetDataSet(dataset);
}

TDateTime StandardDate(int numero) { return EncodeDate(2024, 3, 1) + numero + 0.5; }

std::string StandardName(int numero) {
  return std::string("Nom") + (numero < 10 ? "0" : "") + IntToStr(numero);
}

void AppendStandardRecords(TDataSet* dataset, int first, int last) {
  for (int i = first; i <= last; ++i) {
    dataset->Append();
    dataset->FieldByName("Numero")->SetAsInteger(i);
    dataset->FieldByName("Nom")->SetAsString(StandardName(i));
    dataset->FieldByName("DateAppel")->SetAsDateTime(StandardDate(i));
    dataset->FieldByName("Message")->SetAsString("Texte " + IntToStr(i));
    dataset->Post();
  }
}

std::vector<int> AllNumeros(TDataSet* dataset) {
  std::vector<int> numeros;
  TBookmark position = dataset->GetBookmark();
  dataset->DisableControls();
  dataset->First();
  while (!dataset->Eof()) {
    numeros.push_back(dataset->FieldByName("Numero")->AsInteger());
    dataset->Next();
  }
  if (!position.empty() && dataset->BookmarkValid(position)) dataset->GotoBookmark(position);
  dataset->EnableControls();
  return numeros;
}

}  // namespace cl::test
