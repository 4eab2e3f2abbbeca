// Output and input units: line ends, record counts and failures.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "report/record_layout.hpp"

namespace btcfit {
namespace {

std::string contents(std::FILE* f) {
  std::rewind(f);
  std::string s;
  int c;
  while ((c = std::getc(f)) != EOF) s += static_cast<char>(c);
  return s;
}

TEST(RecordUnit, RecordsEndWithCarriageReturnLineFeed) {
  std::FILE* f = std::tmpfile();
  ASSERT_NE(f, nullptr);
  OutputUnit out(6, "report.out", f, false);
  static const Layout layout("(/,TR2,'AB',I3)");
  write_record(layout, {7}, out);
  out.put_record("");
  out.flush();
  EXPECT_EQ(contents(f), "\r\n  AB  7\r\n\r\n");
  out.close();
  std::fclose(f);
}

TEST(RecordUnit, CloseTwiceAndWriteAfterClose) {
  std::FILE* f = std::tmpfile();
  ASSERT_NE(f, nullptr);
  OutputUnit out(7, "pd.dat", f, true);
  out.put_record(" DISTANCE      ");
  out.close();
  EXPECT_NO_THROW(out.close());
  EXPECT_THROW(out.put_record("x"), IoError);
}

TEST(RecordUnit, WriteFailureIsReported) {
  std::FILE* f = std::fopen("/dev/full", "w");
  if (f == nullptr) GTEST_SKIP() << "no /dev/full";
  OutputUnit out(6, "report.out", f, true);
  for (int k = 0; k < 3; ++k) out.put_record("a record");
  try {
    out.flush();
    FAIL() << "flush did not fail";
  } catch (const IoError& e) {
    EXPECT_EQ(e.unit(), 6);
    EXPECT_EQ(std::string(e.what()),
              "unit 6 (report.out): write failed: No space left on device");
  }
  EXPECT_THROW(out.close(), IoError);
}

TEST(RecordUnit, LargeWriteFailsWithoutFlush) {
  std::FILE* f = std::fopen("/dev/full", "w");
  if (f == nullptr) GTEST_SKIP() << "no /dev/full";
  OutputUnit out(6, "report.out", f, true);
  std::string big(1 << 20, 'x');
  EXPECT_THROW(out.put_record(big), IoError);
}

TEST(RecordUnit, InputCountsRecords) {
  std::FILE* f = std::tmpfile();
  ASSERT_NE(f, nullptr);
  std::fputs("one\r\n\ntwo\r", f);
  std::rewind(f);
  InputUnit in(5, "deck.in", f, true);
  std::string r;
  ASSERT_TRUE(in.get_record(r));
  EXPECT_EQ(r, "one");
  ASSERT_TRUE(in.get_record(r));
  EXPECT_EQ(r, "");
  ASSERT_TRUE(in.get_record(r));
  EXPECT_EQ(r, "two\r");  // a carriage return not followed by a line feed stays
  EXPECT_EQ(in.records_read(), 3);
  EXPECT_FALSE(in.get_record(r));
  EXPECT_FALSE(in.get_record(r));
  EXPECT_EQ(in.records_read(), 3);
}

TEST(RecordUnit, FailNamesUnitAndFile) {
  InputUnit in(5, "deck.in", nullptr, false);
  try {
    in.fail("something wrong");
    FAIL();
  } catch (const IoError& e) {
    EXPECT_EQ(std::string(e.what()), "unit 5 (deck.in): something wrong");
  }
  IoError bare(6, "", "x");
  EXPECT_EQ(std::string(bare.what()), "unit 6: x");
}

}  // namespace
}  // namespace btcfit
