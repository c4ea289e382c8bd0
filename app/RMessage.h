// TRepMessage: the printed message, the main data module's current message on an A4 page: its
// date, caller, subject, recipient, callback numbers, who took it, its text (continued on further
// pages when it is longer than one) and the date and time of printing.
//
// Lifetime: made, previewed or printed, and freed by the main window's print button.  The main
// data module must exist.  GUI thread only.
#pragma once

#include "classlib/report/TReport.h"

namespace mirvel {

class TRepMessage : public cl::TReport {
 public:
  explicit TRepMessage(cl::TComponent* owner);

  cl::TReportLabel* LabelDate;
  cl::TReportDBText* DBTextDateAppel;
  cl::TReportLabel* LabelInterlocuteur;
  cl::TReportDBText* DBTextInterlocuteur;
  cl::TReportLabel* LabelSujet;
  cl::TReportDBText* DBTextSujet;
  cl::TReportLabel* LabelPour;
  cl::TReportDBText* DBTextDestinataire;
  cl::TReportLabel* LabelRappeler;
  cl::TReportDBText* DBTextNoRappeler;
  cl::TReportDBText* DBTextNoRappeler2;
  cl::TReportLabel* LabelSaisiPar;
  cl::TReportDBText* DBTextUserSelecter;
  cl::TReportDBText* DBTextMessage;
  cl::TReportSysData* SysDataImpression;
};

}  // namespace mirvel
