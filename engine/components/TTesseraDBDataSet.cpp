// TTesseraDBDataSet: the database-use flags and the binding to a database and session by name.
#include "classlib/db/DBConsts.h"
#include "classlib/rtl/Application.h"
#include "engine/components/ComponentConsts.h"
#include "engine/components/TTesseraDataSet.h"

namespace tessera {

using namespace cl;

TTesseraDBDataSet::TTesseraDBDataSet(TComponent* owner) : TTesseraDataSet(owner) {}

TTesseraDBDataSet::~TTesseraDBDataSet() {
  DestroyingClose();
  // Flags a failed close left behind must not keep the database registered to a dead dataset.
  for (int flag = 0; flag < 16; ++flag) {
    try {
      SetDBFlag(flag, false);
    } catch (...) {
      Application().HandleException(this);
    }
  }
}

TTesseraSession* TTesseraDBDataSet::DBSession() const {
  return Sessions().GetSession(session_name_);
}

void TTesseraDBDataSet::SetDatabaseName(const std::string& name) {
  if (name == database_name_) return;
  if (Active() || db_flags_ != 0) DatabaseError(SDatabaseOpen);
  database_name_ = name;
  DataEvent(dePropertyChange);
}

void TTesseraDBDataSet::SetSessionName(const std::string& name) {
  if (name == session_name_) return;
  session_name_ = name;
  DataEvent(dePropertyChange);
}

void TTesseraDBDataSet::SetDBFlag(int flag, bool value) {
  const auto bit = static_cast<uint16_t>(1U << flag);
  if (value) {
    if ((db_flags_ & bit) != 0) return;
    if (db_flags_ == 0) {
      TTesseraDatabase* database = DBSession()->OpenDatabase(database_name_, this);
      database->RegisterDataSet(this);
      database_ = database;
    }
    db_flags_ |= bit;
    return;
  }
  if ((db_flags_ & bit) == 0) return;
  db_flags_ &= static_cast<uint16_t>(~bit);
  if (db_flags_ != 0 || database_ == nullptr) return;
  TTesseraDatabase* database = database_;
  database_ = nullptr;
  database->UnregisterDataSet(this);
  if (database->Session() != nullptr) database->Session()->CloseDatabase(database);
}

void TTesseraDBDataSet::OpenCursor(bool info_query) {
  if (!info_query) SetDBFlag(kDbFlagOpened, true);
  TTesseraDataSet::OpenCursor(info_query);
}

void TTesseraDBDataSet::CloseCursor() {
  struct Release {
    TTesseraDBDataSet* self;
    ~Release() {
      try {
        self->SetDBFlag(kDbFlagOpened, false);
      } catch (...) {
        Application().HandleException(self);
      }
    }
  } release{this};
  TTesseraDataSet::CloseCursor();
}

}  // namespace tessera
