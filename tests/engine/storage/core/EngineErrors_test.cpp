#include "engine/storage/core/EngineErrors.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <utility>
#include <vector>

#include "engine/storage/core/ETesseraEngineError.h"
#include "engine/storage/core/EngineSession.h"

namespace tessera {
namespace {

// Every code with its text for data file "T.DAT", field "F", index "I" and SQL "x", written out
// by hand from the engine's error table.
const std::vector<std::pair<uint16_t, std::string>> kGolden = {
    {8705, "Beginning of file encountered in data file T.DAT"},
    {8706, "End of file encountered in data file T.DAT"},
    {8708, "Key not found in index I of data file T.DAT"},
    {8710, "Record not found in data file T.DAT"},
    {8711, "End of blob data in data file T.DAT reached prematurely"},
    {8961, "Header information corrupt in data file T.DAT"},
    {8962, "Data record buffers corrupt in data file T.DAT"},
    {8963, "BLOB block buffers corrupt in data file T.DAT"},
    {8965, "Index page buffers corrupt in data file T.DAT"},
    {9217, "Error reading from data file T.DAT"},
    {9218, "Error writing to data file T.DAT"},
    {9220, "Cannot delete data file T.DAT"},
    {9221, "Error accessing file header information for data file T.DAT"},
    {9477, "Maximum record size exceeded in data file T.DAT"},
    {9479, "The data file T.DAT is full and cannot contain any more data"},
    {9482, "Too many filters defined for data file T.DAT"},
    {9487,
     "Maximum or minimum limits on number of indexes or fields in an index exceeded in data file "
     "T.DAT"},
    {9492,
     "Maximum or minimum limits on number of fields or field size exceeded in data file T.DAT"},
    {9494, "Too many blobs opened in data file T.DAT"},
    {9498, "Too many blob fields or invalid blob block size specified for data file T.DAT"},
    {9729, "Duplicate key found in index I of data file T.DAT"},
    {9730, "The value for the field F in data file T.DAT is below the minimum allowable value"},
    {9731, "The value for the field F in data file T.DAT is above the maximum allowable value"},
    {9732, "A value must be provided for the field F in data file T.DAT"},
    {9985, "Invalid field number or name F specified for data file T.DAT"},
    {9993, "A primary index is already defined for data file T.DAT and cannot be added again"},
    {9998, "Invalid blob offset into data file T.DAT specified"},
    {10000, "Invalid field definition specified for the field F in data file T.DAT"},
    {10006,
     "Invalid default, min or max validity check, or expression specified for F in data file "
     "T.DAT"},
    {10010, "The secondary index name is missing or not specified for data file T.DAT"},
    {10015, "Password provided for data file T.DATis invalid"},
    {10022, "Invalid secondary index name I specified for data file T.DAT"},
    {10023, "Invalid field number F specified in index I for data file T.DAT"},
    {10026, "Invalid key size specified in index I for data file T.DAT"},
    {10027, "The secondary index I already exists for data file T.DAT"},
    {10029, "Invalid blob length in data file T.DAT"},
    {10030, "Invalid blob handle for data file T.DAT specified"},
    {10031, "Data file T.DAT is already in use"},
    {10038, "Invalid or duplicate field name F specified for data file T.DAT"},
    {10050, "Invalid filter handle specified for data file T.DAT"},
    {10051, "Invalid filter expression specified for data file T.DAT"},
    {10055, "The primary index cannot be removed from data file T.DAT"},
    {10241, "The data file T.DAT is already locked by another user"},
    {10242, "Cannot unlock data file or record in data file T.DAT"},
    {10249, "General lock failure with data file T.DAT"},
    {10253, "Data file T.DAT must be opened exclusively"},
    {10258, "Record in data file T.DAT is in use by another user"},
    {10498, "Insufficient rights to data file T.DAT, a password is required"},
    {10753, "Invalid blob field F specified for data file T.DAT"},
    {10758, "Tessera engine not initialized"},
    {11010, "Invalid path or file name for data file T.DAT"},
    {11012, "Too many files open while attempting to open data file T.DAT"},
    {11013, "Access denied to data file T.DAT"},
    {11014, "Invalid file handle for data file T.DAT"},
    {11016, "There is insufficient operating system memory available for the current operation"},
    {11017, "Invalid length for in-memory data file T.DAT"},
    {11023, "Access denied to logical operating system device for data file T.DAT"},
    {11025, "Data file T.DAT has been moved"},
    {11047, "An unknown operating system error occurred with data file T.DAT"},
    {11949, "SQL - x"},
    {12035, "Data file T.DAT is not the correct version"},
    {12292, "Invalid field type specified for index I in data file T.DAT"},
    {15878, "The language driver for data file T.DAT is not available or installed"},
};

class EngineErrorsTest : public ::testing::Test {
 protected:
  void SetUp() override { InitializeEngine(); }
  void TearDown() override { ShutdownEngine(); }
};

TEST_F(EngineErrorsTest, GoldenTextsAndMessagesOfAllCodes) {
  ASSERT_EQ(kGolden.size(), 63u);
  std::set<uint16_t> codes;
  for (const auto& [code, text] : kGolden) {
    EXPECT_TRUE(codes.insert(code).second) << code;
    try {
      RaiseEngineError(code, "T.DAT", "F", "I", "x");
      ADD_FAILURE() << "no exception for " << code;
    } catch (const ETesseraEngineError& e) {
      EXPECT_EQ(e.Message(), "Tessera Engine Error # " + std::to_string(code) + " " + text);
      ASSERT_EQ(e.ErrorCount(), 1);
      EXPECT_EQ(e.GetError(0).ErrorCode(), code);
      EXPECT_EQ(e.GetError(0).Message(), text);
      EXPECT_THROW(e.GetError(1), cl::EListError);
    }
    // The context of the last error stays in the session (10758 stores none).
    TFileSession* session = GetEngineSession();
    if (code != kErrNotInitialized) {
      EXPECT_EQ(session->ErrorCode(), code);
      EXPECT_EQ(session->ErrorDataFile(), "T.DAT");
      EXPECT_EQ(session->ErrorField(), "F");
      EXPECT_EQ(session->ErrorIndex(), "I");
      EXPECT_EQ(session->ErrorSql(), "x");
    }
  }
}

// The message of the exception `fn` raises; fails the test when it raises none.
template <class Fn>
std::string MessageOf(Fn fn) {
  try {
    fn();
  } catch (const ETesseraEngineError& e) {
    return e.Message();
  }
  ADD_FAILURE() << "no engine error raised";
  return {};
}

TEST_F(EngineErrorsTest, UnknownCodeUsesTheDataFile) {
  EXPECT_EQ(MessageOf([] { RaiseEngineError(4242, "T.DAT", "F"); }),
            "Tessera Engine Error # 4242 Unknown error occurred with data file T.DAT");
  EXPECT_EQ(MessageOf([] { RaiseEngineError(0); }),
            "Tessera Engine Error # 0 Unknown error occurred with data file ");
}

TEST_F(EngineErrorsTest, TextIsCutAt127AndNamesAt255) {
  const std::string sql(300, 'y');
  try {
    RaiseEngineError(kErrSql, {}, {}, {}, sql);
    FAIL();
  } catch (const ETesseraEngineError& e) {
    const std::string text = "SQL - " + std::string(121, 'y');
    ASSERT_EQ(text.size(), 127u);
    EXPECT_EQ(e.GetError(0).Message(), text);
    EXPECT_EQ(e.Message(), "Tessera Engine Error # 11949 " + text);
  }
  EXPECT_EQ(GetEngineSession()->ErrorSql(), std::string(255, 'y'));
  EXPECT_EQ(GetEngineErrorText(kErrSql).size(), 127u);
  // 126 characters stay whole.
  const std::string short_sql(120, 'z');
  EXPECT_EQ(MessageOf([&] { RaiseEngineError(kErrSql, {}, {}, {}, short_sql); }),
            "Tessera Engine Error # 11949 SQL - " + short_sql);
}

TEST_F(EngineErrorsTest, EachRaiseReplacesTheWholeContext) {
  EXPECT_EQ(MessageOf([] { RaiseEngineError(kErrBelowMinimum, "A.DAT", "Amount", "Idx", "q"); }),
            "Tessera Engine Error # 9730 The value for the field Amount in data file A.DAT is "
            "below the minimum allowable value");
  // Only a data file this time: the field of the previous error must not leak into the text.
  EXPECT_EQ(MessageOf([] { RaiseEngineError(kErrInvalidField, "B.DAT"); }),
            "Tessera Engine Error # 9985 Invalid field number or name  specified for data file "
            "B.DAT");
  TFileSession* session = GetEngineSession();
  EXPECT_EQ(session->ErrorCode(), kErrInvalidField);
  EXPECT_EQ(session->ErrorIndex(), "");
  EXPECT_EQ(session->ErrorSql(), "");
  ClearErrorContext();
  EXPECT_EQ(session->ErrorCode(), 0);
  EXPECT_EQ(session->ErrorDataFile(), "");
}

TEST_F(EngineErrorsTest, NotInitializedStoresNoContext) {
  EXPECT_THROW(RaiseEngineError(kErrKeyViolation, "T.DAT", "", "I"), ETesseraEngineError);
  EXPECT_EQ(MessageOf([] { RaiseEngineError(kErrNotInitialized, "Z.DAT", "Z", "Z", "Z"); }),
            "Tessera Engine Error # 10758 Tessera engine not initialized");
  TFileSession* session = GetEngineSession();
  EXPECT_EQ(session->ErrorCode(), kErrKeyViolation);
  EXPECT_EQ(session->ErrorDataFile(), "T.DAT");
  EXPECT_EQ(session->ErrorIndex(), "I");
  SetErrorContext(kErrNotInitialized, "Z.DAT", "", "", "");
  EXPECT_EQ(session->ErrorDataFile(), "T.DAT");
}

TEST(EngineErrorsNotStarted, RaisingBeforeStartGivesTheRealError) {
  ShutdownEngine();
  try {
    GetEngineSession();
    FAIL();
  } catch (const ETesseraEngineError& e) {
    EXPECT_EQ(e.Message(), "Tessera Engine Error # 10758 Tessera engine not initialized");
    EXPECT_EQ(e.GetError(0).Message(), "Tessera engine not initialized");
    EXPECT_EQ(e.GetError(0).ErrorCode(), 10758);
  }
  // Without a session the names are empty, but the code is the one raised, not 10758.
  EXPECT_EQ(MessageOf([] { RaiseEngineError(kErrInvalidPath, "T.DAT"); }),
            "Tessera Engine Error # 11010 Invalid path or file name for data file ");
  EXPECT_EQ(MessageOf([] { RaiseEngineError(kErrOutOfMemory); }),
            "Tessera Engine Error # 11016 There is insufficient operating system memory "
            "available for the current operation");
}

TEST_F(EngineErrorsTest, CheckEngineResultAndStatus) {
  EXPECT_NO_THROW(CheckEngineResult(0));
  EXPECT_TRUE(CheckEngineStatus(0));
  try {
    CheckEngineResult(kErrRecordLocked);
    FAIL();
  } catch (const cl::EDatabaseError& e) {
    // Caught through the class library's base, as the dataset layer does.
    const auto* engine = dynamic_cast<const ETesseraEngineError*>(&e);
    ASSERT_NE(engine, nullptr);
    EXPECT_EQ(engine->GetError(0).ErrorCode(), 10258);
    EXPECT_EQ(engine->ErrorCount(), 1);
  }
  try {
    CheckEngineStatus(kErrKeyViolation);
    FAIL();
  } catch (const ETesseraEngineError& e) {
    EXPECT_EQ(e.GetError(0).ErrorCode(), 9729);
    EXPECT_EQ(e.Message().rfind("Tessera Engine Error # 9729 ", 0), 0u);
  }
  // A retry loop that catches the same failure many times keeps nothing behind (checked by the
  // sanitizer build's leak detection).
  int caught = 0;
  for (int i = 0; i < 1000; ++i) {
    try {
      TesseraError(kErrRecordLocked);
    } catch (const ETesseraEngineError& e) {
      caught += e.ErrorCount();
    }
  }
  EXPECT_EQ(caught, 1000);
}

TEST(MapOSErrorTest, Table) {
  const std::vector<std::pair<uint32_t, uint16_t>> table = {
      {2, 11010}, {3, 11010},  {4, 11012},  {5, 11013},   {32, 11013},        {65, 11013},
      {6, 11014}, {8, 11016},  {15, 11023}, {17, 11025},  {0, 11047},         {1, 11047},
      {7, 11047}, {33, 11047}, {80, 11047}, {112, 11047}, {0x20000002, 11047}};
  for (const auto& [os, code] : table) EXPECT_EQ(MapOSError(os), code) << os;
}

}  // namespace
}  // namespace tessera
