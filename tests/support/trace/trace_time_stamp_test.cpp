#include "support/trace/trace_time_stamp.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

namespace Vorn::Zephra::Net::Devices::Camera::IR {
namespace {

using namespace std::chrono;

// Stamps in UTC with the C locale, so the expected texts hold on any machine.
class TraceTimeStampTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (const char* tz = std::getenv("TZ")) savedTz_ = tz;
        ::setenv("TZ", "UTC", 1);
        ::tzset();
    }
    void TearDown() override {
        if (savedTz_) {
            ::setenv("TZ", savedTz_->c_str(), 1);
        } else {
            ::unsetenv("TZ");
        }
        ::tzset();
    }

  private:
    std::optional<std::string> savedTz_;
};

TEST_F(TraceTimeStampTest, ShortDateAndTimeWithSevenFractionDigits) {
    const auto when = sys_days{2026y / December / 6} + 13h + 5min + 4s + 123456789ns;
    EXPECT_EQ(FormatTraceTimeStamp(time_point_cast<system_clock::duration>(when)),
              "12/06/26 13:05:04.1234567");
}

TEST_F(TraceTimeStampTest, WholeSecondsAndEarlyHoursArePadded) {
    const auto when = sys_days{2001y / January / 2} + 3h + 4s;
    EXPECT_EQ(FormatTraceTimeStamp(time_point_cast<system_clock::duration>(when)),
              "01/02/01 03:00:04.0000000");
}

TEST_F(TraceTimeStampTest, InstantsBefore1970KeepAPositiveFraction) {
    const auto when = sys_days{1970y / January / 1} - 250ms;
    EXPECT_EQ(FormatTraceTimeStamp(time_point_cast<system_clock::duration>(when)),
              "12/31/69 23:59:59.7500000");
}

}  // namespace
}  // namespace Vorn::Zephra::Net::Devices::Camera::IR
