#include "common/clock.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <thread>

#include "common/file_size.h"
#include "common/run_log.h"
#include "support/test_support.h"

namespace {

using varpair::test::CapturedOutput;

TEST(LdTimestamp, WritesMonthDayYearAndTimeWithLeadingZeros) {
  std::tm t{};
  t.tm_year = 2026 - 1900;
  t.tm_mon = 0;
  t.tm_mday = 3;
  t.tm_hour = 9;
  t.tm_min = 5;
  t.tm_sec = 7;
  CapturedOutput captured;
  varpair::RunLog log;
  varpair::write_ld_timestamp(log, t);
  EXPECT_EQ(captured.out(), "Jan 03 2026 09:05:07\n");
}

TEST(CtimeText, IsTheCalendarTimeInTheClassicFormWithItsLineFeed) {
  const char* saved = std::getenv("TZ");
  const std::string zone = saved ? saved : "";
  setenv("TZ", "UTC", 1);
  tzset();
  EXPECT_EQ(varpair::ctime_text(0), "Thu Jan  1 00:00:00 1970\n");
  EXPECT_EQ(varpair::ctime_text(1767431107), "Sat Jan  3 09:05:07 2026\n");
  if (saved)
    setenv("TZ", zone.c_str(), 1);
  else
    unsetenv("TZ");
  tzset();
}

TEST(TimerRegistry, StoppedTimersKeepTheirSecondsAndUnknownOnesAreZero) {
  varpair::TimerRegistry timers;
  EXPECT_EQ(timers.seconds("never"), 0.0);
  timers.stop("never");  // stopping a timer that never ran does nothing
  EXPECT_EQ(timers.seconds("never"), 0.0);

  timers.start("work");
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(timers.seconds("work"), 0.0) << "still running";
  timers.stop("work");
  const double first = timers.seconds("work");
  EXPECT_GE(first, 0.015);
  EXPECT_LT(first, 5.0);
  timers.stop("work");  // no longer running: the value stays
  EXPECT_EQ(timers.seconds("work"), first);
}

TEST(ElapsedTime, MillisecondsAreWholeAndMonotonic) {
  const std::int64_t start = varpair::monotonic_ns();
  std::this_thread::sleep_for(std::chrono::milliseconds(5));
  const std::int64_t ms = varpair::elapsed_ms(start);
  EXPECT_GE(ms, 5);
  EXPECT_LT(ms, 5000);
}

TEST(SizeText, UsesBinaryUnitsWithTwoDecimals) {
  EXPECT_EQ(varpair::size_text(0), "0.00 B");
  EXPECT_EQ(varpair::size_text(1023), "1023.00 B");
  EXPECT_EQ(varpair::size_text(1024), "1.00 KB");
  EXPECT_EQ(varpair::size_text(1536), "1.50 KB");
  EXPECT_EQ(varpair::size_text(1048576), "1.00 MB");
  EXPECT_EQ(varpair::size_text(std::uint64_t{1} << 40), "1.00 TB");
  EXPECT_EQ(varpair::size_text(std::uint64_t{1} << 50), "1024.00 TB");
}

TEST(FileSizeText, ReportsTheSizeOfAFileOrWhyNot) {
  varpair::test::TempDir dir;
  EXPECT_EQ(varpair::file_size_text(dir.write("t.txt", std::string(1536, 'x'))), "1.50 KB");
  EXPECT_EQ(varpair::file_size_text(dir.file("missing.txt")), "File not accessible");
}

}  // namespace
