// TStrings (the abstract list of lines with attached objects) and TStringList.
//
// Lines are Windows-1252 text.  Each line carries an object pointer that the list never
// dereferences or frees; an integer can ride in it through IntToObj/ObjToInt.  Text joins the
// lines, each followed by CR LF, and setting it splits at CR LF, LF or CR.
//
// Change events: a TStringList fires OnChanging before and OnChange after each modification, or
// once around an outer BeginUpdate/EndUpdate pair (Assign, AddStrings and setting Text run
// inside such a pair, so replacing a list is one notification).
//
// TStringList compares with AnsiCompareText (AnsiCompareStr when CaseSensitive).  A sorted list
// keeps its order: Add finds the place by binary search and applies Duplicates; inserting at a
// chosen place is refused.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "classlib/rtl/Classes.h"
#include "classlib/rtl/Exceptions.h"

namespace cl {

class EStringListError : public EListError {
 public:
  using EListError::EListError;
};

// The integer-as-object idiom of combo and list items.
inline TObject* IntToObj(intptr_t value) { return reinterpret_cast<TObject*>(value); }
inline intptr_t ObjToInt(const TObject* object) { return reinterpret_cast<intptr_t>(object); }

class TStrings : public TPersistent {
 public:
  virtual int Count() const = 0;
  // REQUIRES: 0 <= index < Count() for all indexed access, else EListError.
  virtual std::string Get(int index) const = 0;
  virtual TObject* GetObject(int index) const;
  // The base replaces the line and keeps its object.
  virtual void Put(int index, const std::string& s);
  virtual void PutObject(int index, TObject* object);
  // REQUIRES: 0 <= index <= Count().
  virtual void Insert(int index, const std::string& s) = 0;
  virtual void Delete(int index) = 0;
  virtual void Clear() = 0;

  std::string Strings(int index) const { return Get(index); }
  void SetStrings(int index, const std::string& s) { Put(index, s); }
  TObject* Objects(int index) const { return GetObject(index); }
  void SetObjects(int index, TObject* object) { PutObject(index, object); }

  // Returns the new line's index.
  virtual int Add(const std::string& s);
  virtual int AddObject(const std::string& s, TObject* object);
  void InsertObject(int index, const std::string& s, TObject* object);
  void AddStrings(const TStrings& strings);

  // The first line equal to `s` by CompareStrings, or -1.
  virtual int IndexOf(std::string_view s) const;
  int IndexOfObject(const TObject* object) const;
  virtual void Exchange(int index1, int index2);
  virtual void Move(int current, int target);

  // Replaces the lines and objects by those of another TStrings.
  void Assign(const TPersistent* source) override;

  std::string Text() const;
  void SetText(std::string_view text);

  void BeginUpdate();
  void EndUpdate();
  int UpdateCount() const { return update_count_; }

 protected:
  // Called when the outermost update begins (true) and ends (false).
  virtual void SetUpdateState(bool updating);
  // Negative, zero or positive; the base ignores case (AnsiCompareText).
  virtual int CompareStrings(std::string_view a, std::string_view b) const;

 private:
  int update_count_ = 0;
};

enum TDuplicates { dupIgnore, dupAccept, dupError };

class TStringList;
using TStringListSortCompare = std::function<int(TStringList& list, int index1, int index2)>;

class TStringList : public TStrings {
 public:
  int Count() const override { return static_cast<int>(items_.size()); }
  std::string Get(int index) const override;
  TObject* GetObject(int index) const override;
  void Put(int index, const std::string& s) override;
  void PutObject(int index, TObject* object) override;
  // Sorted: refused (EStringListError).
  void Insert(int index, const std::string& s) override;
  void Delete(int index) override;
  void Clear() override;
  // Sorted: placed by binary search; a line already present is skipped (dupIgnore, returning
  // its index and leaving its object as it was), added before the equal ones (dupAccept) or
  // refused (dupError).  One change notification either way.
  int Add(const std::string& s) override;
  int AddObject(const std::string& s, TObject* object) override;
  int IndexOf(std::string_view s) const override;
  void Exchange(int index1, int index2) override;

  // Binary search (the list must be sorted): true when found; `index` is then an equal line (the
  // first of them with dupAccept), else the insertion place.
  bool Find(std::string_view s, int& index) const;
  virtual void Sort();
  // Quicksort with the middle line as pivot; the order of equal lines is unspecified.  Does
  // nothing on a Sorted list, whose order is the list's own.
  void CustomSort(const TStringListSortCompare& compare);

  bool Sorted() const { return sorted_; }
  void SetSorted(bool sorted);
  bool CaseSensitive() const { return case_sensitive_; }
  void SetCaseSensitive(bool case_sensitive);
  TDuplicates Duplicates() const { return duplicates_; }
  void SetDuplicates(TDuplicates duplicates) { duplicates_ = duplicates; }

  const TNotifyEvent& OnChange() const { return on_change_; }
  void SetOnChange(TNotifyEvent handler) { on_change_ = std::move(handler); }
  const TNotifyEvent& OnChanging() const { return on_changing_; }
  void SetOnChanging(TNotifyEvent handler) { on_changing_ = std::move(handler); }

 protected:
  virtual void Changed();
  virtual void Changing();
  void SetUpdateState(bool updating) override;
  int CompareStrings(std::string_view a, std::string_view b) const override;

 private:
  struct Item {
    std::string text;
    TObject* object;
  };

  void InsertItem(int index, const std::string& s, TObject* object);
  void Check(int index) const;
  void QuickSort(int left, int right, const TStringListSortCompare& compare);
  void SortWith(const TStringListSortCompare& compare);

  std::vector<Item> items_;
  bool sorted_ = false;
  bool case_sensitive_ = false;
  TDuplicates duplicates_ = dupIgnore;
  TNotifyEvent on_change_;
  TNotifyEvent on_changing_;
};

}  // namespace cl
