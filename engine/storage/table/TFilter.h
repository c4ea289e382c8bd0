// One filter of a table, and the compiled filter expression buffer the dataset layer builds.
//
// A filter is an expression (a checked ExpressionNode tree, owned or borrowed) or a record
// callback, with its result: a record bit map (RecordBitMap.h) over the table's physical record
// numbers.  Its evaluation class is the index analysis's verdict on the tree (IndexAnalysis.h;
// callbacks are always 2).  The filters of a table belong to its TDataFile, which builds and
// keeps their maps (TDataFileFilters.cpp); the handle given out is the TFilter itself, valid
// until the filter is dropped or the table closed.  Used by the table's thread only.
//
// The compiled buffer is an in-process contract, never stored; little-endian:
//
//   offset  size  header
//      0      2   u16 version
//      2      2   u16 total size
//      4      2   u16 0xFFFF
//      6      2   u16 start of the node area
//      8      2   u16 start of the literal area
//
//   node (16 bytes; offsets relative to the node area, the root at 0, 0 = no operand)
//      0      4   u32 class: 1 unary, 2 binary, 3 extended (prefix) compare, 4 field, 5 constant
//      4      4   u32 operator code (ExpressionNode.h)
//      8      2   unary: operand; binary: left; extended: case-insensitive flag; constant: type
//     10      2   binary: right; extended: partial length (low byte); field: name offset;
//                 constant: value size
//     12      2   extended: field node; constant: value offset
//     14      2   extended: constant node
//
// Literal offsets are relative to the literal area; a field name is zero-terminated; a constant
// of type 1 and size 1 is NULL.  The buffer is untrusted: every offset, size, name and the shape
// of the tree (each node reached once, so no cycle) is checked before use.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "engine/storage/expr/ExpressionNode.h"

namespace tessera {

// Called for each candidate record: true keeps it.  `record` is the whole record buffer.
using TFilterCallback =
    std::function<bool(void* data, const uint8_t* record, uint32_t record_number)>;

class TFilter {
 public:
  TFilter() = default;
  TFilter(const TFilter&) = delete;
  TFilter& operator=(const TFilter&) = delete;
  ~TFilter() { ReleaseExpression(); }

  // Takes `tree`, freeing it with the filter when `owns`.
  void SetExpression(ExpressionNode* tree, bool owns);
  void ReleaseExpression();
  ExpressionNode* Expression() const { return expression_; }
  bool OwnsExpression() const { return owns_expression_; }

  TFilterCallback callback;
  void* callback_data = nullptr;
  bool is_callback = false;
  bool active = false;
  bool restrict_to_earlier = false;
  uint8_t evaluation_class = 2;
  std::vector<uint8_t> map;  // one bit per physical record number

 private:
  ExpressionNode* expression_ = nullptr;
  bool owns_expression_ = false;
};

inline constexpr size_t kFilterBufferHeaderSize = 10;
inline constexpr size_t kFilterNodeSize = 16;
inline constexpr uint32_t kFilterNodeUnary = 1;
inline constexpr uint32_t kFilterNodeBinary = 2;
inline constexpr uint32_t kFilterNodeCompare = 3;
inline constexpr uint32_t kFilterNodeField = 4;
inline constexpr uint32_t kFilterNodeConstant = 5;

// Binds a field node by its column name (number and typing); raises for an unknown field.
using TFilterFieldResolver = std::function<void(ExpressionNode& column)>;

// The tree of a compiled buffer (untyped operators; the caller runs the type checker), or nullptr
// when the buffer is malformed.
ExpressionNodePtr DecodeFilterBuffer(std::span<const uint8_t> buffer,
                                     const TFilterFieldResolver& resolve);

}  // namespace tessera
