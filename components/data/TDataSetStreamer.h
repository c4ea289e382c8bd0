// TDataSetStreamer: writes all records of any dataset to a stream and reads them back, through
// the dataset's public interface only (navigation, Append, Post, Cancel, Delete, field values).
//
// Fields in scope: the dataset's Fields in order, each field of kind fkData, plus the others
// when `include_calc` is set.  Readers assign only fkData fields; the others are read over.
//
// efDataSet (TGenericFormat), all integers little-endian, per record and field in scope:
//
//   field                              bytes
//   blob field (TBlobField)            i32 n, then n bytes (n = 0: empty)
//   NULL of any other supported type   00
//   ftString                           01, i32 n, n characters (no terminator)
//   ftSmallint, ftWord                 01, 2 bytes (low 16 bits)
//   ftInteger, ftAutoInc               01, i32
//   ftBoolean                          01, 1 byte (00 False, 01 True)
//   ftFloat, ftDate, ftTime,           01, IEEE double (date-times as day numbers from
//     ftDateTime                           30/12/1899, the time as the fraction)
//   ftCurrency, ftBCD                  01, i64 = value x 10,000 (rounded to nearest)
//   ftBytes, ftVarBytes                01, i32 n = the field's DataSize(), then n bytes
//
// The end is i32 -1 (FF FF FF FF): a size -1 when the first field in scope is a blob, a flag FF
// otherwise.  ftUnknown, and a blob type on a field that is not a TBlobField, raise
// EDatabaseError "Unable to save this field type : %s" on writing and reading.  Lengths read
// are untrusted: a negative length, one past the stream's end or one that does not fit the
// field raises EDatabaseError; a stream cut inside a record ends the load without posting it.
//
// efTextCSV (TCSVFormat): per record one line of the text values of the non-blob fields and
// memos, each in double quotes (inner quotes doubled), ";" between, CR LF at the end; in a memo
// CR becomes a blank, an LF after a CR is dropped, other bytes below 32 become blanks.
//
// efTextConst (TTextConstFormat): per record one line of fixed-width columns, blank-padded on
// the right, CR LF at the end: String Size(), Smallint 6, Integer/AutoInc 10, Word 5, Boolean 1
// ("0"/"1"), Float/Currency/BCD 21, Date 10 "dd/mm/yyyy", Time 8 "hh:nn:ss", DateTime 19
// "dd/mm/yyyy hh:nn:ss"; other types have no column.  A value wider than its column raises
// EDatabaseError naming the field (it would shift every later record).
//
// Text readers convert through the current format settings.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "classlib/db/TDataSet.h"
#include "classlib/rtl/Streams.h"

namespace comp {

enum TExportFormat : uint8_t { efDataSet, efTextCSV, efTextConst };

// The base of the three formats.
class TDataSetFormat {
 public:
  TDataSetFormat(cl::TDataSet* dataset, bool include_calc)
      : dataset_(dataset), include_calc_(include_calc) {}
  virtual ~TDataSetFormat() = default;

  virtual void WriteRecord(cl::TStream& stream) = 0;
  // False at the end of the records (the current insert is then cancelled).
  virtual bool ReadRecord(cl::TStream& stream) = 0;
  virtual void WriteEnd(cl::TStream&) {}

 protected:
  // The fields in scope, in order.
  std::vector<cl::TField*> FieldsInScope() const;

  cl::TDataSet* dataset_;
  bool include_calc_;
};

class TGenericFormat : public TDataSetFormat {
 public:
  using TDataSetFormat::TDataSetFormat;
  void WriteRecord(cl::TStream& stream) override;
  bool ReadRecord(cl::TStream& stream) override;
  void WriteEnd(cl::TStream& stream) override;
};

class TCSVFormat : public TDataSetFormat {
 public:
  using TDataSetFormat::TDataSetFormat;
  void WriteRecord(cl::TStream& stream) override;
  bool ReadRecord(cl::TStream& stream) override;
};

class TTextConstFormat : public TDataSetFormat {
 public:
  using TDataSetFormat::TDataSetFormat;
  void WriteRecord(cl::TStream& stream) override;
  bool ReadRecord(cl::TStream& stream) override;
};

class TDataSetStreamer {
 public:
  TDataSetStreamer(cl::TDataSet* dataset, TExportFormat format, bool include_calc);

  // Writes every record from the first, then the format's end; the position and the controls
  // are restored, also on an exception.
  void Save(cl::TStream& stream);
  // Deletes every record, then appends the records read from the stream's position to its end
  // and moves to the first record.
  void Load(cl::TStream& stream);

 private:
  cl::TDataSet* dataset_;
  std::unique_ptr<TDataSetFormat> format_;
};

// One CSV line: bytes up to a line end (CR LF, a lone LF or a lone CR; not part of the line) or
// to the stream's end.  A line end inside a quoted value (one that starts with a double quote)
// belongs to the value and to the line.
std::string ReadLine(cl::TStream& stream);

}  // namespace comp
