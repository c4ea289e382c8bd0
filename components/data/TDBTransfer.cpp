#include "components/data/TDBTransfer.h"

#include "classlib/db/TField.h"
#include "classlib/rtl/Application.h"
#include "classlib/rtl/Streams.h"
#include "components/data/Helpers.h"

namespace comp {

using namespace cl;

namespace {

// Runs `action` when the scope ends, unless dismissed.
template <class F>
class ScopeExit {
 public:
  explicit ScopeExit(F action) : action_(std::move(action)) {}
  ~ScopeExit() {
    if (armed_) action_();
  }
  void Dismiss() { armed_ = false; }
  ScopeExit(const ScopeExit&) = delete;
  ScopeExit& operator=(const ScopeExit&) = delete;

 private:
  F action_;
  bool armed_ = true;
};

void Write(TStream& stream, const std::string& text) {
  if (!text.empty()) stream.WriteBuffer(text.data(), static_cast<int32_t>(text.size()));
}

std::string FieldValues(const TDataSet* dataset) {
  std::string text;
  for (TField* field : dataset->FieldList())
    text += "\t" + field->FieldName() + " : " + field->Text();
  return text;
}

}  // namespace

// ---- TAssociation ------------------------------------------------------------------------------

bool TAssociation::IsValid(int index) const {
  return !(source_.Get(index).empty() && source_.GetObject(index) == nullptr);
}

int TAssociation::ValidCount() const {
  int count = 0;
  for (int i = 0; i < source_.Count(); ++i) count += IsValid(i) ? 1 : 0;
  return count;
}

void TAssociation::SetSource(const TStrings& list) {
  if (list.Count() != dest_.Count()) {
    throw Exception(
        "Les \xE9l\xE9ments source d'une association doivent \xEAtre aussi nombreux que ceux de "
        "la destination");
  }
  source_.Assign(&list);
}

void TAssociation::SetDest(const TStrings& list) {
  struct Pair {
    std::string source;
    TObject* source_object;
    std::string dest;
    TObject* dest_object;
  };
  std::vector<Pair> saved;
  for (int i = 0; i < source_.Count() && i < dest_.Count(); ++i) {
    if (IsValid(i)) {
      saved.push_back({source_.Get(i), source_.GetObject(i), dest_.Get(i), dest_.GetObject(i)});
    }
  }
  dest_.Assign(&list);
  while (source_.Count() < dest_.Count()) source_.AddObject("", nullptr);
  while (source_.Count() > dest_.Count()) source_.Delete(source_.Count() - 1);
  for (int i = 0; i < dest_.Count(); ++i) {
    source_.Put(i, "");
    source_.PutObject(i, nullptr);
    for (const Pair& pair : saved) {
      if (pair.dest == dest_.Get(i) && pair.dest_object == dest_.GetObject(i)) {
        source_.Put(i, pair.source);
        source_.PutObject(i, pair.source_object);
        break;
      }
    }
  }
}

void TAssociation::Assign(const TPersistent* source) {
  const auto* other = dynamic_cast<const TAssociation*>(source);
  if (other == nullptr) {
    TPersistent::Assign(source);
    return;
  }
  SetChoice(other->choice_);
  SetDest(other->dest_);
  SetSource(other->source_);
}

void TAssociation::Clear() {
  source_.Clear();
  dest_.Clear();
  choice_.Clear();
}

// ---- TDBTransfer -------------------------------------------------------------------------------

TDBTransfer::TDBTransfer(TComponent* owner) : TComponent(owner) {
  auto refresh = [this](TAssociation* association) { RefreshAssociation(association); };
  transfer_fields_.SetOnRefresh(refresh);
  linked_fields_.SetOnRefresh(refresh);
  // The desktop's own opener stands for the text editor; a start that fails shows nothing.
  log_viewer_ = [](const std::string& file_name) {
    TProcessInformation info;
    StartProcess("xdg-open \"" + file_name + "\"", info);
  };
}

TDBTransfer::~TDBTransfer() = default;

void TDBTransfer::SetSource(TDataSet* dataset) {
  if (source_ != nullptr) RemoveFreeNotification(source_);
  source_ = dataset;
  if (dataset != nullptr) FreeNotification(dataset);
}

void TDBTransfer::SetDestination(TDataSet* dataset) {
  if (destination_ != nullptr) RemoveFreeNotification(destination_);
  destination_ = dataset;
  if (dataset != nullptr) FreeNotification(dataset);
}

void TDBTransfer::Notification(TComponent* component, TOperation operation) {
  TComponent::Notification(component, operation);
  if (operation != opRemove) return;
  if (component == source_) source_ = nullptr;
  if (component == destination_) destination_ = nullptr;
}

std::vector<TDBTransfer::Mapping> TDBTransfer::BuildMapping(const TAssociation& association) const {
  std::vector<Mapping> mapping;
  const TStringList& sources = association.Source();
  const TStringList& dests = association.Dest();
  for (int i = 0; i < sources.Count() && i < dests.Count(); ++i) {
    if (!association.IsValid(i)) continue;
    std::string entry = sources.Get(i);
    Mapping item{source_->FindField(entry), std::string(), nullptr};
    if (item.source_field == nullptr) {
      if (entry.size() >= 2 && entry.front() == '"' && entry.back() == '"') {
        item.constant = entry.substr(1, entry.size() - 2);
      } else {
        source_->FieldByName(entry);  // raises the field-not-found error
      }
    }
    item.dest = destination_->FieldByName(dests.Get(i));
    mapping.push_back(std::move(item));
  }
  return mapping;
}

void TDBTransfer::CopyRecord(const std::vector<Mapping>& mapping) const {
  for (const Mapping& item : mapping) {
    if (item.source_field != nullptr) {
      item.dest->Assign(item.source_field);
    } else {
      // AsString, not Text: a constant is a value, not something typed by a user.
      item.dest->SetAsString(item.constant);
    }
  }
}

void TDBTransfer::CopyCurrentRecord() {
  if (source_ == nullptr) throw EDBTransferError("Propri\xE9t\xE9 Source manquante !");
  if (destination_ == nullptr) throw EDBTransferError("Propri\xE9t\xE9 Destination manquante !");
  CopyRecord(BuildMapping(transfer_fields_));
}

void TDBTransfer::WriteErrorBlock(TStream& log, const std::string& message) const {
  std::string block = Name() + "\t" + message + "\r\n";
  block += "Valeur des champs source = " + FieldValues(source_) + "\r\n";
  block += "Valeur des champs destination = " + FieldValues(destination_) + "\r\n";
  Write(log, block);
}

void TDBTransfer::PostRecord(TStream* log) {
  bool allow = true;
  if (on_transfer_record_) on_transfer_record_(this, allow);
  if (!allow) {
    destination_->Cancel();
    return;
  }
  try {
    destination_->Post();
  } catch (const Exception& e) {
    if (log != nullptr) WriteErrorBlock(*log, e.Message());
    destination_->Cancel();
    if (abort_on_error_) throw;
  }
}

void TDBTransfer::BuildKey(std::string& names, std::vector<Mapping>& values) const {
  const TStringList& sources = linked_fields_.Source();
  const TStringList& dests = linked_fields_.Dest();
  for (int i = 0; i < sources.Count() && i < dests.Count(); ++i) {
    if (!linked_fields_.IsValid(i)) continue;
    TField* source_field = source_->FindField(sources.Get(i));
    TField* dest_field = destination_->FieldByName(dests.Get(i));
    if ((source_field != nullptr && source_field->IsBlob()) || dest_field->IsBlob()) {
      throw EDBTransferError("Impossible de lier des champs blobs !");
    }
    if (!names.empty()) names += ";";
    names += dest_field->FieldName();
  }
  TAssociation keys;
  keys.SetDest(linked_fields_.Dest());
  keys.SetSource(linked_fields_.Source());
  values = BuildMapping(keys);
  if (values.empty()) throw EDBTransferError("Champs de lien manquants");
}

Variant TDBTransfer::KeyValues(const std::vector<Mapping>& values) const {
  auto value = [](const Mapping& item) {
    return item.source_field != nullptr ? item.source_field->Value() : Variant(item.constant);
  };
  if (values.size() == 1) return value(values.front());
  std::vector<Variant> elements;
  for (const Mapping& item : values) elements.push_back(value(item));
  return Variant::Array(std::move(elements));
}

void TDBTransfer::Execute() {
  if (source_ == nullptr) throw EDBTransferError("Propri\xE9t\xE9 Source manquante !");
  if (destination_ == nullptr) throw EDBTransferError("Propri\xE9t\xE9 Destination manquante !");
  if (source_ == destination_) {
    throw EDBTransferError("La source et la destination sont les m\xEAmes !");
  }
  source_->DisableControls();
  ScopeExit enable_source([this] { source_->EnableControls(); });
  destination_->DisableControls();
  ScopeExit enable_destination([this] { destination_->EnableControls(); });
  TransferProper();
  enable_destination.Dismiss();
  destination_->EnableControls();
  if (show_log_ && log_errors_ && log_viewer_) log_viewer_(file_error_log_);
}

void TDBTransfer::TransferProper() {
  bool allow = true;
  if (before_transfer_) before_transfer_(this, allow);
  if (allow) {
    bool source_was_active = source_->Active();
    bool destination_was_active = destination_->Active();
    source_->Open();
    destination_->Open();
    TBookmark source_mark = source_->GetBookmark();
    TBookmark destination_mark = destination_->GetBookmark();
    auto restore_one = [](TDataSet* dataset, bool was_active, const TBookmark& mark) {
      if (!was_active) {
        dataset->Close();
      } else if (!mark.empty() && dataset->BookmarkValid(mark)) {
        dataset->GotoBookmark(mark);
      }
    };
    ScopeExit restore([&] {
      // Runs during unwinding too: a second failure here must not replace the first.
      for (auto [dataset, was_active, mark] :
           {std::tuple{destination_, destination_was_active, &destination_mark},
            std::tuple{source_, source_was_active, &source_mark}}) {
        try {
          if (dataset->State() == dsEdit || dataset->State() == dsInsert) dataset->Cancel();
          restore_one(dataset, was_active, *mark);
        } catch (...) {
          Application().HandleException(dataset);
        }
      }
    });
    std::vector<Mapping> mapping = BuildMapping(transfer_fields_);
    if (mode_ == tmCopy) {
      while (!destination_->IsEmpty()) destination_->Delete();
    }
    std::unique_ptr<TFileStream> log;
    if (log_errors_) {
      if (FileExists(file_error_log_)) {
        log = std::make_unique<TFileStream>(file_error_log_, fmOpenReadWrite | fmShareDenyWrite);
      } else {
        log = std::make_unique<TFileStream>(file_error_log_, fmCreate);
      }
      log->Seek(0, soFromEnd);
    }
    switch (mode_) {
      case tmCopy:
      case tmAppend:
        source_->First();
        destination_->First();
        while (!source_->Eof()) {
          destination_->Append();
          CopyRecord(mapping);
          PostRecord(log.get());
          source_->Next();
        }
        break;
      case tmUpdate:
      case tmAppendUpdate:
      case tmDelete: {
        std::string names;
        std::vector<Mapping> keys;
        BuildKey(names, keys);
        source_->First();
        while (!source_->Eof()) {
          bool found = destination_->Locate(names, KeyValues(keys), TLocateOptions{});
          if (mode_ == tmDelete) {
            if (found) {
              bool allow_delete = true;
              if (on_transfer_record_) on_transfer_record_(this, allow_delete);
              if (allow_delete) destination_->Delete();
            }
          } else if (found) {
            destination_->Edit();
            CopyRecord(mapping);
            PostRecord(log.get());
          } else if (mode_ == tmAppendUpdate) {
            destination_->Append();
            CopyRecord(mapping);
            PostRecord(log.get());
          }
          source_->Next();
        }
        break;
      }
    }
    log.reset();
    restore.Dismiss();
    restore_one(destination_, destination_was_active, destination_mark);
    restore_one(source_, source_was_active, source_mark);
  }
  if (after_transfer_) after_transfer_(this);
}

void TDBTransfer::RefreshAssociation(TAssociation* association) {
  if (source_ == nullptr || destination_ == nullptr) {
    association->Clear();
    return;
  }
  auto names = [](TDataSet* dataset, bool stored_only) {
    TStringList list;
    if (dataset->FieldCount() > 0) {
      for (TField* field : dataset->FieldList()) {
        if (!stored_only || field->FieldKind() == fkData || field->FieldKind() == fkInternalCalc) {
          list.Add(field->FieldName());
        }
      }
    } else {
      dataset->FieldDefs()->Update();
      for (int i = 0; i < dataset->FieldDefs()->Count(); ++i) {
        list.Add(dataset->FieldDefs()->Items(i)->Name());
      }
    }
    return list;
  };
  association->SetDest(names(destination_, true));
  association->SetChoice(names(source_, false));
}

}  // namespace comp
