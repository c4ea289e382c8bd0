// Conformance: lookup fields (with and without cache), blob fields, data sources and field data
// links.  Part of DataSetConformance.h; include that header instead.
#pragma once

#include "ConformanceFixture.h"
#include "classlib/db/DBConsts.h"
#include "classlib/db/TBlobField.h"
#include "classlib/db/TDataLink.h"

namespace cl::test {

template <class F>
class DataSetFieldConformance : public TConformanceFixture<F> {
 protected:
  // A second dataset of the same kind ("users") holding records 1..count, open on record 1.
  TDataSet* MakeUsers(int count) {
    users_ = F::Create(this->owner_.get());
    users_->Open();
    AppendStandardRecords(users_, 1, count);
    users_->First();
    return users_;
  }
  // A lookup string field on the main dataset.  REQUIRES: the main dataset is closed.
  TField* AddLookup(const char* name, const char* keys, const char* lookup_keys, const char* result,
                    bool cache = false) {
    auto* field = Create<TStringField>(this->owner_.get());
    field->SetFieldName(name);
    field->SetSize(30);
    field->SetFieldKind(fkLookup);
    field->SetKeyFields(keys);
    field->SetLookupDataSet(users_);
    field->SetLookupKeyFields(lookup_keys);
    field->SetLookupResultField(result);
    field->SetLookupCache(cache);
    field->SetDataSet(this->ds_);
    return field;
  }
  void RenameUser(int numero, const std::string& name) {
    ASSERT_TRUE(users_->Locate("Numero", Variant(numero), TLocateOptions{}));
    users_->Edit();
    users_->FieldByName("Nom")->SetAsString(name);
    users_->Post();
  }

  TDataSet* users_ = nullptr;
};
TYPED_TEST_SUITE_P(DataSetFieldConformance);

TYPED_TEST_P(DataSetFieldConformance, LookupFieldsFollowEachRecord) {
  TDataSet* users = this->MakeUsers(6);
  users->Next();
  TField* name = this->AddLookup("NomUtilisateur", "Numero", "Numero", "Nom");
  TField* text = this->AddLookup("TexteUtilisateur", "Numero;Nom", "Numero;Nom", "Message");
  this->OpenWith(8);
  std::vector<std::string> names;
  std::vector<std::string> texts;
  while (!this->ds_->Eof()) {
    names.push_back(name->IsNull() ? "-" : name->AsString());
    texts.push_back(text->IsNull() ? "-" : text->AsString());
    this->ds_->Next();
  }
  EXPECT_EQ(names, (std::vector<std::string>{"Nom01", "Nom02", "Nom03", "Nom04", "Nom05", "Nom06",
                                             "-", "-"}));
  EXPECT_EQ(texts, (std::vector<std::string>{"Texte 1", "Texte 2", "Texte 3", "Texte 4", "Texte 5",
                                             "Texte 6", "-", "-"}));
  EXPECT_EQ(users->FieldByName("Numero")->AsInteger(), 2);  // the lookup dataset did not move
  EXPECT_TRUE(name->CanModify());                           // through its key field
  EXPECT_FALSE(this->F("Calcul")->CanModify());
  // Changing the key in an edit recomputes the lookup.
  this->ds_->First();
  this->ds_->Edit();
  this->F("Numero")->SetAsInteger(5);
  EXPECT_EQ(name->AsString(), "Nom05");
  this->ds_->Cancel();
  EXPECT_EQ(name->AsString(), "Nom01");
  // A closed lookup dataset gives no value.
  users->Close();
  this->ds_->Refresh();
  EXPECT_TRUE(name->IsNull());
}

TYPED_TEST_P(DataSetFieldConformance, LookupCacheIsASnapshot) {
  TDataSet* users = this->MakeUsers(5);
  users->SetOnFilterRecord([](TDataSet* dataset, bool& accept) {
    accept = dataset->FieldByName("Numero")->AsInteger() != 3;
  });
  users->SetFiltered(true);
  users->Next();
  TField* name = this->AddLookup("NomUtilisateur", "Numero", "Numero", "Nom", true);
  this->OpenWith(5);
  EXPECT_EQ(users->FieldByName("Numero")->AsInteger(), 2);  // position restored
  EXPECT_EQ(name->AsString(), "Nom01");
  this->ds_->MoveBy(2);
  EXPECT_TRUE(name->IsNull());  // user 3 was filtered out of the snapshot
  this->RenameUser(4, "Renomme");
  users->First();
  this->ds_->Next();
  EXPECT_EQ(name->AsString(), "Nom04");  // still the cached name
  name->RefreshLookupList();
  this->ds_->Refresh();
  EXPECT_EQ(name->AsString(), "Renomme");
}

TYPED_TEST_P(DataSetFieldConformance, MemoValuesGoThroughBlobStreams) {
  this->OpenWith(3);
  auto* memo = dynamic_cast<TBlobField*>(this->F("Message"));
  ASSERT_NE(memo, nullptr);
  EXPECT_TRUE(memo->IsBlob());
  EXPECT_EQ(memo->AsString(), "Texte 1");
  EXPECT_EQ(memo->BlobSize(), 7);
  EXPECT_EQ(memo->DisplayText(), "(MEMO)");
  try {
    memo->SetAsString("refus");
    FAIL() << "writing a blob while browsing must raise";
  } catch (const EDatabaseError& e) {
    EXPECT_EQ(e.Message(), SNotEditing);
  }
  std::string bytes("ligne 1\r\nligne 2\0fin", 20);
  this->ds_->Edit();
  int changes = 0;
  memo->SetOnChange([&changes](TField*) { ++changes; });
  TMemoryStream source;
  source.WriteBuffer(bytes.data(), static_cast<int32_t>(bytes.size()));
  memo->LoadFromStream(source);
  EXPECT_EQ(changes, 1);
  EXPECT_TRUE(memo->Modified());
  EXPECT_TRUE(this->ds_->Modified());
  this->ds_->Post();
  EXPECT_FALSE(memo->Modified());
  this->ds_->Next();
  this->ds_->Prior();
  TMemoryStream copy;
  memo->SaveToStream(copy);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(copy.Bytes().data()), copy.Bytes().size()),
            bytes);
  // Cleared, the memo is null; a cancelled change leaves the stored value.
  this->ds_->Edit();
  memo->Clear();
  EXPECT_TRUE(memo->IsNull());
  EXPECT_EQ(memo->DisplayText(), "(memo)");
  this->ds_->Cancel();
  EXPECT_EQ(memo->AsString(), bytes);
  this->ds_->Edit();
  memo->Clear();
  this->ds_->Post();
  EXPECT_TRUE(memo->IsNull());
  EXPECT_EQ(memo->BlobSize(), 0);
}

TYPED_TEST_P(DataSetFieldConformance, AssignCopiesValuesAndNulls) {
  TDataSet* other = this->MakeUsers(2);
  this->OpenWith(2);
  other->Append();
  // A NULL source stays NULL; a blob copies its bytes.
  for (const char* name : {"Numero", "Nom", "DateAppel", "Message"}) {
    other->FieldByName(name)->Assign(this->F(name));
  }
  EXPECT_EQ(other->FieldByName("Nom")->AsString(), "Nom01");
  EXPECT_EQ(other->FieldByName("Message")->AsString(), "Texte 1");
  this->ds_->Append();
  other->FieldByName("Nom")->Assign(this->F("Nom"));
  EXPECT_TRUE(other->FieldByName("Nom")->IsNull());
  other->FieldByName("Nom")->Assign(nullptr);
  EXPECT_TRUE(other->FieldByName("Nom")->IsNull());
  other->Cancel();
  this->ds_->Cancel();
}

TYPED_TEST_P(DataSetFieldConformance, DataSourceSettingsReachTheLinks) {
  this->OpenWith(2);
  TFieldDataLink field_link;
  field_link.SetDataSource(this->source_);
  field_link.SetFieldName("Nom");
  ASSERT_EQ(field_link.Field(), this->F("Nom"));
  this->source_->SetAutoEdit(false);
  EXPECT_FALSE(field_link.Edit());
  EXPECT_EQ(this->ds_->State(), dsBrowse);
  this->source_->SetAutoEdit(true);
  this->source_->SetEnabled(false);
  EXPECT_FALSE(this->link_.Active());
  EXPECT_FALSE(field_link.Active());
  EXPECT_EQ(field_link.Field(), nullptr);
  this->source_->SetEnabled(true);
  EXPECT_TRUE(this->link_.Active());
  EXPECT_TRUE(field_link.Edit());
  EXPECT_EQ(this->ds_->State(), dsEdit);
  this->ds_->Cancel();
  field_link.SetDataSource(nullptr);
  // Destroying the dataset detaches its data source.
  this->link_.SetDataSource(nullptr);
  delete this->ds_;
  this->ds_ = nullptr;
  EXPECT_EQ(this->source_->DataSet(), nullptr);
  EXPECT_EQ(this->source_->State(), dsInactive);
}

TYPED_TEST_P(DataSetFieldConformance, FieldDataLinkEditsThroughItsControl) {
  this->OpenWith(3);
  TFieldDataLink field_link;
  std::string shown;
  std::string typed;
  int data_changes = 0;
  field_link.SetOnDataChange([&](TObject*) {
    ++data_changes;
    shown = field_link.Field() != nullptr ? field_link.Field()->Text() : "";
  });
  field_link.SetOnUpdateData([&](TObject*) { field_link.Field()->SetText(typed); });
  field_link.SetDataSource(this->source_);
  field_link.SetFieldName("Nom");
  EXPECT_EQ(shown, "Nom01");
  // The user types: edit, mark modified; the post writes the pending text.
  ASSERT_TRUE(field_link.Edit());
  typed = "Saisi";
  field_link.Modified();
  this->ds_->Post();
  EXPECT_EQ(this->F("Nom")->AsString(), "Saisi");
  // Escape reloads the field and forgets the typed text.
  field_link.Edit();
  typed = "Oublie";
  field_link.Modified();
  field_link.Reset();
  EXPECT_EQ(shown, "Saisi");
  this->ds_->Post();
  EXPECT_EQ(this->F("Nom")->AsString(), "Saisi");
  // Changes of other fields do not reach this link; its own field's do.
  this->ds_->Edit();
  data_changes = 0;
  this->F("Numero")->SetAsInteger(40);
  EXPECT_EQ(data_changes, 0);
  this->F("Nom")->SetAsString("Autre");
  EXPECT_EQ(data_changes, 1);
  EXPECT_EQ(shown, "Autre");
  this->ds_->Cancel();
  field_link.SetDataSource(nullptr);
}

REGISTER_TYPED_TEST_SUITE_P(DataSetFieldConformance, LookupFieldsFollowEachRecord,
                            LookupCacheIsASnapshot, MemoValuesGoThroughBlobStreams,
                            AssignCopiesValuesAndNulls, DataSourceSettingsReachTheLinks,
                            FieldDataLinkEditsThroughItsControl);

}  // namespace cl::test
