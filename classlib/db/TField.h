// TField: one column of a dataset's current record, with its conversions, text and events.
//
// A field is a component.  Persistent fields belong to the form or module that declares them and
// are attached with SetDataSet; default fields are created by the dataset from its field
// definitions when it opens without fields, and destroyed when it closes.  A field never reads a
// record buffer itself: GetData and SetData go through the dataset (GetFieldValue,
// SetFieldValue), which chooses the buffer by its state, checks the state and read-only rules,
// runs Validate and signals the change.
//
// Values move in the field type's native buffer form, which is the engine's stored form (see
// TFields.h for each type); the typed descendants convert between it and the As... accessors.
// An accessor a class does not support raises EDatabaseError "Le champ '%s' ne peut pas être lu
// ou écrit comme %s".  Getters of a NULL field give "", 0, False or a Null variant.
//
// Text: Text (edit text) and DisplayText go through OnGetText when it is assigned, else through
// the class's own text; setting Text goes through OnSetText when assigned, else AsString.
// AsString itself never runs the text events.
//
// Lifetime: destroying a field that still belongs to a dataset closes the dataset first (with
// its close events, unless the dataset is being destroyed too) and takes the field out of its
// list.  Threads: GUI thread only.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "classlib/db/DBTypes.h"
#include "classlib/rtl/Currency.h"
#include "classlib/rtl/DateTime.h"
#include "classlib/rtl/TComponent.h"
#include "classlib/rtl/Variant.h"

namespace cl {

class TDataSet;

class TField : public TComponent {
 public:
  explicit TField(TComponent* owner);
  ~TField() override;

  // ---- identity ----------------------------------------------------------------------------
  TDataSet* DataSet() const { return dataset_; }
  // Moves the field into `dataset`'s field list (nullptr: out of any).  REQUIRES: both the old
  // and the new dataset are closed (EDatabaseError "Ne peut effectuer cette opération sur un
  // ensemble de données ouvert").
  void SetDataSet(TDataSet* dataset);
  const std::string& FieldName() const { return field_name_; }
  void SetFieldName(const std::string& name);
  // The definition's number while the dataset is open: 1-based for stored fields, -1 for
  // calculated and lookup fields, 0 while unbound.
  int FieldNo() const { return field_no_; }
  void SetFieldNo(int field_no) { field_no_ = field_no; }
  TFieldKind FieldKind() const { return field_kind_; }
  void SetFieldKind(TFieldKind kind);
  bool Calculated() const { return field_kind_ == fkCalculated; }
  bool Lookup() const { return field_kind_ == fkLookup; }
  TFieldType DataType() const { return data_type_; }
  // Characters of a string, bytes of a byte field, decimals of a BCD field.
  int Size() const { return size_; }
  void SetSize(int size);
  // Bytes of the native buffer form (0 for blobs, which go through blob streams).
  virtual int DataSize() const { return 0; }
  // Position of a calculated or lookup field's value in the calculated area of a record buffer
  // (its has-value byte comes first); set when the dataset binds its fields.
  int Offset() const { return offset_; }
  // Position in the dataset's field list; -1 without dataset.
  int Index() const;
  virtual bool IsBlob() const { return false; }

  bool Visible() const { return visible_; }
  void SetVisible(bool visible) { visible_ = visible; }
  bool ReadOnly() const { return read_only_; }
  void SetReadOnly(bool read_only) { read_only_ = read_only; }
  bool Required() const { return required_; }
  void SetRequired(bool required) { required_ = required; }
  // The label; FieldName while none was set.
  std::string DisplayLabel() const { return display_label_.empty() ? field_name_ : display_label_; }
  void SetDisplayLabel(std::string label) { display_label_ = std::move(label); }
  std::string DisplayName() const { return DisplayLabel(); }
  // Characters a grid gives the column; the type's default while none was set.
  int DisplayWidth() const { return display_width_ > 0 ? display_width_ : DefaultWidth(); }
  void SetDisplayWidth(int width) { display_width_ = width; }
  TAlignment Alignment() const { return alignment_; }
  void SetAlignment(TAlignment alignment) { alignment_ = alignment; }
  // Kept for the edits that read it; the field itself applies no mask.
  const std::string& EditMask() const { return edit_mask_; }
  void SetEditMask(std::string mask) { edit_mask_ = std::move(mask); }

  // ---- lookup definition -------------------------------------------------------------------
  const std::string& KeyFields() const { return key_fields_; }
  void SetKeyFields(const std::string& names) { key_fields_ = names; }
  TDataSet* LookupDataSet() const { return lookup_dataset_; }
  void SetLookupDataSet(TDataSet* dataset);
  const std::string& LookupKeyFields() const { return lookup_key_fields_; }
  void SetLookupKeyFields(const std::string& names) { lookup_key_fields_ = names; }
  const std::string& LookupResultField() const { return lookup_result_field_; }
  void SetLookupResultField(const std::string& name) { lookup_result_field_ = name; }
  bool LookupCache() const { return lookup_cache_; }
  void SetLookupCache(bool cache);
  // Rebuilds the cached key -> result list from the lookup dataset as its filter shows it now,
  // walking it first to last with its controls disabled and returning to its record.  A closed
  // lookup dataset (or none) gives an empty list; nothing is opened.
  void RefreshLookupList();

  // ---- values ------------------------------------------------------------------------------
  bool IsNull() const { return !GetData(nullptr); }
  virtual void Clear() { SetData(nullptr); }

  virtual std::string AsString() const;
  virtual void SetAsString(const std::string& value);
  virtual int32_t AsInteger() const;
  virtual void SetAsInteger(int32_t value);
  virtual double AsFloat() const;
  virtual void SetAsFloat(double value);
  virtual bool AsBoolean() const;
  virtual void SetAsBoolean(bool value);
  virtual TDateTime AsDateTime() const;
  virtual void SetAsDateTime(TDateTime value);
  virtual Currency AsCurrency() const;
  virtual void SetAsCurrency(Currency value);
  virtual Variant AsVariant() const;
  // Null or Empty clears the field; a String goes through the class's text rule (SetAsString);
  // other kinds are converted to the field's type.
  virtual void SetAsVariant(const Variant& value);
  Variant Value() const { return AsVariant(); }
  void SetValue(const Variant& value) { SetAsVariant(value); }

  std::string Text() const { return TextWithEvent(false); }
  void SetText(const std::string& text);
  std::string DisplayText() const { return TextWithEvent(true); }

  // Copies the native value into `buffer` (which may be null) and returns whether the field
  // holds a value.  While the field is being validated it reads the value being written.
  // EDatabaseError "Pas d'ensemble de données pour le champ '%s'" without a dataset.
  bool GetData(void* buffer) const;
  // Writes the native value (null: clears the field) through the dataset.
  void SetData(const void* buffer);

  // Runs OnValidate for the native value about to be written (null: a clear); reads of this
  // field inside the handler see that value.  Called by the dataset's SetFieldValue.
  void Validate(const void* buffer);
  // Fires OnChange; called by the dataset after a value was written.
  void Change();

  // Whether the user may change the field now: data fields when neither the field nor the
  // dataset is read-only, lookup fields when every key field may change, calculated never.
  bool CanModify() const;
  // Whether typing `c` makes sense for the field; character 0 always does.
  virtual bool IsValidChar(char c) const;
  // Asks the data-aware control of this field for the focus (deFocusControl).
  void FocusControl();

  // A null source clears; a field source copies its Value (NULL stays NULL); other sources go
  // to the persistent assignment rules.
  void Assign(const TPersistent* source) override;

  // ---- events ------------------------------------------------------------------------------
  const TFieldNotifyEvent& OnChange() const { return on_change_; }
  void SetOnChange(TFieldNotifyEvent handler) { on_change_ = std::move(handler); }
  const TFieldNotifyEvent& OnValidate() const { return on_validate_; }
  void SetOnValidate(TFieldNotifyEvent handler) { on_validate_ = std::move(handler); }
  const TFieldGetTextEvent& OnGetText() const { return on_get_text_; }
  void SetOnGetText(TFieldGetTextEvent handler) { on_get_text_ = std::move(handler); }
  const TFieldSetTextEvent& OnSetText() const { return on_set_text_; }
  void SetOnSetText(TFieldSetTextEvent handler) { on_set_text_ = std::move(handler); }

 protected:
  void SetDataType(TFieldType type) { data_type_ = type; }
  // The class's own text (no events): the edit form, or the display form.
  virtual std::string GetText(bool display_text) const;
  virtual int DefaultWidth() const { return 10; }
  // Raises the access error for the accessor named `type_name` ("Integer", "Float"...).
  [[noreturn]] void AccessError(const char* type_name) const;
  // Reads the native value into a buffer of DataSize() bytes; false (buffer zeroed) when null.
  bool ReadNative(std::vector<uint8_t>& buffer) const;

  void Notification(TComponent* component, TOperation operation) override;

 private:
  friend class TDataSet;

  std::string TextWithEvent(bool display_text) const;
  // The lookup value of the current calculation: from the cache or the lookup dataset.
  Variant LookupValue() const;

  TDataSet* dataset_ = nullptr;
  std::string field_name_;
  int field_no_ = 0;
  TFieldKind field_kind_ = fkData;
  TFieldType data_type_ = ftUnknown;
  int size_ = 0;
  int offset_ = 0;
  bool visible_ = true;
  bool read_only_ = false;
  bool required_ = false;
  std::string display_label_;
  int display_width_ = 0;
  TAlignment alignment_ = taLeftJustify;
  std::string edit_mask_;

  std::string key_fields_;
  TDataSet* lookup_dataset_ = nullptr;
  std::string lookup_key_fields_;
  std::string lookup_result_field_;
  bool lookup_cache_ = false;
  std::vector<std::pair<Variant, Variant>> lookup_list_;

  bool validating_ = false;
  const void* validate_buffer_ = nullptr;

  TFieldNotifyEvent on_change_;
  TFieldNotifyEvent on_validate_;
  TFieldGetTextEvent on_get_text_;
  TFieldSetTextEvent on_set_text_;
};

// Whether two key values are equal for a lookup: element by element for arrays, never for Null.
bool LookupKeysEqual(const Variant& a, const Variant& b);

}  // namespace cl
