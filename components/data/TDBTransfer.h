// TDBTransfer: copies records field by field from a source dataset to a destination dataset, and
// TAssociation, the field mapping it uses.
//
// A TAssociation pairs entry i of Source (a source field name, or a constant written in double
// quotes) with entry i of Dest (a destination field name); Choice lists names offered to an
// editor.  A pair whose source entry is empty and carries no object is not a mapping: valid
// pairs are counted and numbered skipping it.  Invariant: Source and Dest have the same count.
//
// A transfer (Execute, or DoTransfer set to True) runs in one of five modes:
//   tmCopy          empties the destination, then appends every source record
//   tmAppend        appends every source record
//   tmUpdate        edits the destination record located by LinkedFields, skips the others
//   tmAppendUpdate  as tmUpdate, appending the records not found
//   tmDelete        deletes the destination records located by LinkedFields
// Each record passes OnTransferRecord (a veto).  A post that fails is cancelled and, with
// LogErrors, described in FileErrorLog as a three-line block:
//
//   <Name> TAB <message> CR LF
//   "Valeur des champs source = " (TAB <FieldName> " : " <text>) per source field, CR LF
//   "Valeur des champs destination = " (the same per destination field), CR LF
//
// and raised again only with AbortOnError.  Whatever happens, both datasets' controls are
// enabled again, the log is closed and the datasets are restored (bookmark, or closed when they
// were) before the transfer returns or raises; AfterTransfer fires only on a normal end.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "classlib/db/TDataSet.h"
#include "classlib/rtl/TComponent.h"
#include "classlib/rtl/TStrings.h"

namespace comp {

class EDBTransferError : public cl::Exception {
 public:
  using cl::Exception::Exception;
};

class TAssociation : public cl::TPersistent {
 public:
  const cl::TStringList& Source() const { return source_; }
  // EXCEPTION "Les éléments source d'une association doivent être aussi nombreux que ceux de la
  // destination" when the counts differ.
  void SetSource(const cl::TStrings& list);
  const cl::TStringList& Dest() const { return dest_; }
  // Keeps each source entry with the destination (text and object) it fed.
  void SetDest(const cl::TStrings& list);
  const cl::TStringList& Choice() const { return choice_; }
  void SetChoice(const cl::TStrings& list) { choice_.Assign(&list); }

  // Choice, then Dest, then Source.
  void Assign(const cl::TPersistent* source) override;
  void Clear();

  // Pairs that are mappings (see the file comment).
  int ValidCount() const;
  bool IsValid(int index) const;

  // Called by an editor to refill the lists from the datasets.
  const std::function<void(TAssociation*)>& OnRefresh() const { return on_refresh_; }
  void SetOnRefresh(std::function<void(TAssociation*)> refresh) {
    on_refresh_ = std::move(refresh);
  }

 private:
  cl::TStringList source_;
  cl::TStringList dest_;
  cl::TStringList choice_;
  std::function<void(TAssociation*)> on_refresh_;
};

enum TTransferMode : uint8_t { tmCopy, tmAppend, tmUpdate, tmAppendUpdate, tmDelete };

using TTransferEvent = std::function<void(cl::TObject* sender, bool& allow)>;
// Shows the error log file; the default starts the desktop's opener on it.
using TLogViewer = std::function<void(const std::string& file_name)>;

class TDBTransfer : public cl::TComponent {
 public:
  explicit TDBTransfer(cl::TComponent* owner);
  ~TDBTransfer() override;

  bool AbortOnError() const { return abort_on_error_; }
  void SetAbortOnError(bool value) { abort_on_error_ = value; }
  cl::TDataSet* Source() const { return source_; }
  void SetSource(cl::TDataSet* dataset);
  cl::TDataSet* Destination() const { return destination_; }
  void SetDestination(cl::TDataSet* dataset);
  TTransferMode TransferMode() const { return mode_; }
  void SetTransferMode(TTransferMode mode) { mode_ = mode; }
  TAssociation* TransferFields() { return &transfer_fields_; }
  void SetTransferFields(const TAssociation& value) { transfer_fields_.Assign(&value); }
  TAssociation* LinkedFields() { return &linked_fields_; }
  void SetLinkedFields(const TAssociation& value) { linked_fields_.Assign(&value); }
  const TTransferEvent& BeforeTransfer() const { return before_transfer_; }
  void SetBeforeTransfer(TTransferEvent handler) { before_transfer_ = std::move(handler); }
  const TTransferEvent& OnTransferRecord() const { return on_transfer_record_; }
  void SetOnTransferRecord(TTransferEvent handler) { on_transfer_record_ = std::move(handler); }
  const cl::TNotifyEvent& AfterTransfer() const { return after_transfer_; }
  void SetAfterTransfer(cl::TNotifyEvent handler) { after_transfer_ = std::move(handler); }
  // Reading gives False; setting True runs Execute.
  bool DoTransfer() const { return false; }
  void SetDoTransfer(bool value) {
    if (value) Execute();
  }
  const std::string& FileErrorLog() const { return file_error_log_; }
  void SetFileErrorLog(const std::string& name) { file_error_log_ = name; }
  bool LogErrors() const { return log_errors_; }
  void SetLogErrors(bool value) { log_errors_ = value; }
  bool ShowLog() const { return show_log_; }
  void SetShowLog(bool value) { show_log_ = value; }
  void SetLogViewer(TLogViewer viewer) { log_viewer_ = std::move(viewer); }

  // The whole transfer (see the file comment).
  void Execute();
  // Copies the mapped values of the source's current record into the destination's current
  // record buffer; the caller puts the destination in edit or insert state and posts.
  void CopyCurrentRecord();
  // Refills `association` from the datasets: Dest with the destination's stored field names,
  // Choice with all the source's names; cleared when a dataset is missing.
  void RefreshAssociation(TAssociation* association);

 protected:
  void Notification(cl::TComponent* component, cl::TOperation operation) override;

 private:
  struct Mapping {
    cl::TField* source_field;
    std::string constant;
    cl::TField* dest;
  };

  std::vector<Mapping> BuildMapping(const TAssociation& association) const;
  void CopyRecord(const std::vector<Mapping>& mapping) const;
  void PostRecord(cl::TStream* log);
  void WriteErrorBlock(cl::TStream& log, const std::string& message) const;
  void TransferProper();
  void BuildKey(std::string& names, std::vector<Mapping>& values) const;
  cl::Variant KeyValues(const std::vector<Mapping>& values) const;

  bool abort_on_error_ = false;
  cl::TDataSet* source_ = nullptr;
  cl::TDataSet* destination_ = nullptr;
  TTransferMode mode_ = tmCopy;
  TAssociation transfer_fields_;
  TAssociation linked_fields_;
  TTransferEvent before_transfer_;
  TTransferEvent on_transfer_record_;
  cl::TNotifyEvent after_transfer_;
  std::string file_error_log_;
  bool log_errors_ = false;
  bool show_log_ = true;
  TLogViewer log_viewer_;
};

}  // namespace comp
