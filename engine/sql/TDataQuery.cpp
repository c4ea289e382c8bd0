#include "engine/sql/TDataQuery.h"

#include <cstring>

#include "engine/sql/TStatementParser.h"
#include "engine/storage/core/EngineErrors.h"
#include "engine/storage/table/TDataFile.h"
#include "platform/LocaleInfo.h"

namespace tessera {

TDataQuery::TDataQuery()
    : result_(std::make_unique<TDataFile>()), language_id_(platform::GetUserDefaultLangID()) {}

TDataQuery::~TDataQuery() { Unprepare(); }

void TDataQuery::ClearBindFlags() {
  order_served_ = false;
  order_index_ = 0;
  aggregate_only_ = false;
  order_serves_group_ = false;
  has_distinct_index_ = false;
  has_group_index_ = false;
  live_result_ = false;
  result_fields_.clear();
  result_indexes_.clear();
  result_name_.clear();
  into_target_.clear();
  bound_.clear();
}

void TDataQuery::Unprepare() noexcept {
  // Sources first: a live result is a source, and each closes (and so unlocks) on its own.
  for (auto& table : statement_.source_tables) {
    try {
      table->data_file->Close();
    } catch (...) {
      // A read-only or failed handle has nothing to write; its files are closed either way and
      // the statement is being given up.
    }
  }
  statement_.ClearStatement();
  if (result_created_) {
    try {
      if (result_->IsOpen()) {
        result_->Close();  // a temporary result deletes its files here
      }
      if (into_pending_ || (result_->DeleteOnClose() && result_->Exists())) {
        result_->DeleteTableFiles();
      }
    } catch (...) {
      // The result is ours alone (exclusive): a failure here can only leave a stray temporary
      // file, which no later statement reuses since names are searched afresh.
    }
    result_ = std::make_unique<TDataFile>();
    result_created_ = false;
    into_pending_ = false;
  }
  prepared_ = false;
  ClearBindFlags();
}

uint16_t TDataQuery::PrepareQuery(std::string_view text) {
  if (executed_) return kErrUnknownOSError;
  Unprepare();
  statement_.live = request_live_;
  rows_affected_ = 0;
  try {
    statement_.parser.SetText(text);
    ParseStatement(statement_);
    BindQuery(*this);
  } catch (...) {
    Unprepare();
    throw;
  }
  prepared_ = true;
  return 0;
}

uint16_t TDataQuery::SetQueryParams(const std::vector<TQueryParamDescriptor>& descriptors,
                                    const uint8_t* buffer, size_t buffer_size) {
  for (size_t i = 0; i < descriptors.size(); ++i) {
    const TQueryParamDescriptor& d = descriptors[i];
    if (i >= statement_.parameters.size() || d.size > kValueAreaSize ||
        d.offset + 1u + d.size > buffer_size) {
      // As after any failure: no source left open, no lock held.
      Unprepare();
      RaiseEngineError(kErrSql, {}, {}, {}, "Internal parameter error");
    }
    ExpressionNode& node = *statement_.parameters[i];
    node.type = d.type;
    node.sub_type = d.sub_type;
    node.size = d.size;
    node.decimals = d.decimals;
    node.is_null = buffer[d.offset] == 0 ? 1 : 0;
    node.ClearValue();
    std::memcpy(node.value.data(), buffer + d.offset + 1, d.size);
    // A string value always ends inside the value area.
    if (d.type == kExprTypeString) node.value[kValueAreaSize - 1] = 0;
  }
  return 0;
}

void TDataQuery::SetLockRetryCount(uint8_t value) {
  lock_retry_count_ = value;
  for (auto& table : statement_.source_tables) table->data_file->SetLockRetryCount(value);
  result_->SetLockRetryCount(value);
}

void TDataQuery::SetLockWaitTime(uint16_t value) {
  lock_wait_time_ = value;
  for (auto& table : statement_.source_tables) table->data_file->SetLockWaitTime(value);
  result_->SetLockWaitTime(value);
}

void TDataQuery::ReportQueryProgress(int32_t current, uint16_t percent, bool& abort) {
  if (progress_) progress_(current, percent, abort);
}

}  // namespace tessera
