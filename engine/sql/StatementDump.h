// A readable dump of a parsed statement, for tests and for looking at what the parser made.
//
// One line per item, in this order (items and flags only when present):
//   <KIND> [live] [distinct] [average] [expressions] [multiple] [conditions] [order] [group]
//          [nocase] [locks]
//   into ['memory' ]'<name>'
//   encrypted '<password>'
//   table <appearance> '<file>' as '<correlation>' [memory]          (source list order)
//   column name='<n>' corr='<c>' as='<result>' [agg=<SUM..COUNT>] [computed] text='<t>' tree=<tree>
//   target name='<n>' corr='<c>'
//   value text='<t>' tree=<tree>
//   order name='<n>' corr='<c>' number=<k> [desc]
//   group name='<n>' corr='<c>' number=<k>
//   where <tree>
//   parameters <count>
// Texts are in single quotes with inner quotes doubled.  Trees are S-expressions: a column is
// "corr.name" or "name"; a parameter "?<its 1-based number>"; a string constant its quoted value;
// a comparison with a join type carries it after "@" ("(=@LEFT A.k B.k)").
#pragma once

#include <string>

#include "engine/sql/TQueryStatement.h"
#include "engine/storage/expr/ExpressionNode.h"

namespace tessera {

std::string DumpStatement(const TQueryStatement& query);

// The join plan, one line per item (tables in list order; links and filters only when present):
//   table <position> '<correlation>'
//     link <plain|inner|outer> '<child correlation>' [<condition>]
//     filter <tree>                                   (the installed table filters)
//   where <tree>                                      (what is left for the table filters)
//   residual <tree>
std::string DumpPlan(const TQueryStatement& query);

// The tree alone; with a statement, its parameters are numbered.
std::string DumpExpression(const ExpressionNode* node, const TQueryStatement* query = nullptr);

}  // namespace tessera
