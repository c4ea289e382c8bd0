// Field and index definitions: what a dataset's cursor offers, readable before any field object
// exists.
//
// A dataset owns its TFieldDefs; the descendant fills it in InternalInitFieldDefs (from the
// engine's field definitions, or from its persistent fields).  Update() asks the dataset to
// refresh it, which works on a closed dataset too (TDataSet::InitFieldDefs).  TIndexDefs is
// owned by the descendants that have indexes; its Update() asks the dataset (UpdateIndexDefs).
// Names compare without regard to case, as the class library's AnsiCompareText does.
//
// Both lists own their items; pointers to items stay valid until Clear or the list's death.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "classlib/db/DBTypes.h"
#include "classlib/rtl/Classes.h"

namespace cl {

class TComponent;
class TFieldDefs;
class TIndexDefs;

class TFieldDef {
 public:
  TFieldDef(TFieldDefs* collection, std::string name, TFieldType data_type, int size, bool required,
            int field_no);

  TFieldDefs* Collection() const { return collection_; }
  const std::string& Name() const { return name_; }
  void SetName(std::string name) { name_ = std::move(name); }
  TFieldType DataType() const { return data_type_; }
  void SetDataType(TFieldType type) { data_type_ = type; }
  // Characters of a string, bytes of a byte field, decimals of a BCD field; 0 otherwise.
  int Size() const { return size_; }
  void SetSize(int size) { size_ = size; }
  bool Required() const { return required_; }
  void SetRequired(bool required) { required_ = required; }
  // 1-based: the position in the list, or the engine's field number when the dataset sets it.
  int FieldNo() const { return field_no_; }
  void SetFieldNo(int field_no) { field_no_ = field_no; }
  int Precision() const { return precision_; }
  void SetPrecision(int precision) { precision_ = precision; }
  bool InternalCalcField() const { return internal_calc_field_; }
  void SetInternalCalcField(bool internal_calc) { internal_calc_field_ = internal_calc; }

  // Creates the field object of this definition's type (owned by `owner`), with its name, size,
  // required flag and number, and adds it to the dataset's fields.  REQUIRES: the dataset is
  // closed.  A type without field class (ftUnknown, ftCursor) raises EDatabaseError.
  TField* CreateField(TComponent* owner) const;

 private:
  TFieldDefs* collection_;
  std::string name_;
  TFieldType data_type_;
  int size_;
  bool required_;
  int field_no_;
  int precision_ = 0;
  bool internal_calc_field_ = false;
};

class TFieldDefs : public TPersistent {
 public:
  explicit TFieldDefs(TDataSet* dataset) : dataset_(dataset) {}

  TDataSet* DataSet() const { return dataset_; }
  int Count() const { return static_cast<int>(items_.size()); }
  // REQUIRES: 0 <= index < Count(), else EListError.
  TFieldDef* Items(int index) const;

  // Appends a definition numbered Count() + 1 and marks the list changed.
  TFieldDef* Add(const std::string& name, TFieldType data_type, int size = 0,
                 bool required = false);
  void Clear();

  // The position of the definition of that name (ignoring case), or -1.
  int IndexOf(std::string_view name) const;
  // The definition of that name; EDatabaseError "Champ '%s' non trouvé" when there is none.
  TFieldDef* Find(std::string_view name) const;

  bool Updated() const { return updated_; }
  void SetUpdated(bool updated) { updated_ = updated; }
  // Refreshes the definitions from the dataset (TDataSet::InitFieldDefs).
  void Update();

 private:
  TDataSet* dataset_;
  std::vector<std::unique_ptr<TFieldDef>> items_;
  bool updated_ = false;
};

class TIndexDef {
 public:
  TIndexDef(std::string name, std::string fields, TIndexOptions options)
      : name_(std::move(name)), fields_(std::move(fields)), options_(options) {}

  const std::string& Name() const { return name_; }
  // The key fields, separated by ";".
  const std::string& Fields() const { return fields_; }
  TIndexOptions Options() const { return options_; }

 private:
  std::string name_;
  std::string fields_;
  TIndexOptions options_;
};

class TIndexDefs : public TPersistent {
 public:
  explicit TIndexDefs(TDataSet* dataset) : dataset_(dataset) {}

  TDataSet* DataSet() const { return dataset_; }
  int Count() const { return static_cast<int>(items_.size()); }
  // REQUIRES: 0 <= index < Count(), else EListError.
  TIndexDef* Items(int index) const;
  TIndexDef* Add(const std::string& name, const std::string& fields, TIndexOptions options);
  void Clear();
  // The position of the index of that name (ignoring case), or -1.
  int IndexOf(std::string_view name) const;

  bool Updated() const { return updated_; }
  void SetUpdated(bool updated) { updated_ = updated; }
  // Refreshes the definitions from the dataset (TDataSet::UpdateIndexDefs).
  void Update();

  // The index to search `fields` (";"-separated) with: among the indexes that are neither
  // expression nor descending indexes (and, with `case_insensitive`, only case-insensitive
  // ones), the first whose field list equals `fields` ignoring case, else the first whose list
  // begins with `fields` followed by ";".  nullptr when none fits.
  TIndexDef* GetIndexForFields(std::string_view fields, bool case_insensitive) const;

 private:
  TDataSet* dataset_;
  std::vector<std::unique_ptr<TIndexDef>> items_;
  bool updated_ = false;
};

}  // namespace cl
