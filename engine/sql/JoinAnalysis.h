// How a statement's conditions are split between join links, table filters and the residual.
//
// All WHERE and ON conditions arrive as one tree (TQueryStatement::condition).  At binding, once
// every column carries its table's correlation name (unqualified names resolved), PlanJoins
// turns comparisons between two tables into links (StatementDescriptors.h) and sends what no
// link or single table can take to the residual.  At execution, once every tree is checked (the
// condition, the residual and each link's condition, ForEachConditionTree) and the parameters
// are set, AssignTableFilters installs the single-table parts as filters of their tables' data
// files, or sends them to the residual when no index serves them.  Columns of the checked trees
// are numbered in their table's own field set (TFieldSet::kTable).
//
// The plan, decided before any row is read:
//
//   part of the tree                                   goes to
//   comparison, each side on one table, two tables     a link parent -> child (below)
//   NOT, OR or anything else naming several tables     the residual, whole
//   anything naming no table (1 = 0, ? = 1)            the residual
//   a part naming one table                            a filter of that table when an index
//                                                      serves it, else the residual
//   WHERE part on the child of an outer link           the residual: tested after the row
//                                                      without partner is made
//   ON part on the child of an outer link              always a filter of the child: a child row
//                                                      failing it is no partner
//
// A link's parent is chosen by the links made so far and the tables' positions (JoinAnalysis.cpp
// states the rules); the child's position is raised past its parent's, and the sources are sorted
// by position at the end, so that the table in position 1 drives the join.  A comparison whose
// link would close a cycle goes to the residual instead.  Each table but the last starts with a
// plain link to the next one; a plain link is dropped when its child is reached by a typed link or
// is the driving table.
#pragma once

#include <cstdint>
#include <functional>

#include "engine/sql/TQueryStatement.h"

namespace tessera {

// Every source table but the last gets a plain link to the next one in the list.
void MakeDefaultLinks(TQueryStatement& query);

// Takes the join comparisons out of the condition tree into links and the parts no single table
// can take into the residual; a consumed tree is cleared with the has-conditions flag.  Raises
// 11949 for a comparison side naming several tables and for a correlation name that names no
// source table.
void AnalyzeJoins(TQueryStatement& query);

// Sorts the source tables by position and renumbers them 1, 2, 3 ...
void SortSourcesByPosition(TQueryStatement& query);

// Drops the plain links whose child is reached otherwise; 11949 when a table is the child of two
// typed links, or when the links do not reach every table exactly once from position 1.
void CleanUpLinks(TQueryStatement& query);

// The binding steps in order: default links, the analysis (when the statement has conditions),
// the sort and the clean-up.
void PlanJoins(TQueryStatement& query);

// Calls `visit` with each tree that execution must check, in this order: the condition, the
// residual, each link's condition (tables in list order).  Empty trees are skipped.
void ForEachConditionTree(TQueryStatement& query,
                          const std::function<void(ExpressionNodePtr& tree)>& visit);

// How execution asks for the table filters.
struct TTableFilterOptions {
  // The result is the live source table, or the statement is aggregates only: every single-table
  // part becomes a filter, served by an index or not, and over one table the residual too.
  bool keep_per_record_filters = false;
  uint16_t language = 0;  // the statement's, for constants evaluated once
  uint16_t sort = 0;
};

// Drops every table and link filter an earlier execution installed, and puts the residual back
// as the join analysis left it.
void DropTableFilters(TQueryStatement& query);

// Installs the table filters: walks what is left of the condition tree and hands each part naming
// one table to AssignTableCondition.  Rewrites the residual's prefix patterns as a filter's are
// rewritten.  REQUIRES: the trees checked; the tables open.  11949 "Table correlation name ...
// referenced in WHERE clause is not defined in the FROM clause", "Internal table filter error";
// a filter the data file refuses raises its own error.
void AssignTableFilters(TQueryStatement& query, const TTableFilterOptions& options);

// One part naming only `table`: a copy (prefix patterns rewritten, constants evaluated and
// converted) becomes an active filter of the table, or goes to the residual.  True when it
// became a filter.  `force_filter` keeps it a filter even when no index serves it.
bool AssignTableCondition(TQueryStatement& query, const ExpressionNode& condition,
                          TSourceDataFile& table, const TTableFilterOptions& options,
                          bool force_filter = false);

// True when the statement has no residual or the residual holds for the current combined row
// (JoinLoop.h).
bool ResidualHolds(TQueryStatement& query, uint16_t language, uint16_t sort);

}  // namespace tessera
