#include <gtest/gtest.h>

#include "KestruneRemoteKit/Protocol/RemoteMessage.hpp"

namespace kestrune {
namespace {

using namespace std::chrono;

Date utc(int y, unsigned m, unsigned d, int hh, int mm, int ss) {
    return sys_days{year{y} / m / d} + hours{hh} + minutes{mm} + seconds{ss};
}

TEST(WireDate, WritesWholeSecondsInUtcDroppingFractions) {
    EXPECT_EQ(formatWireDate(utc(2026, 3, 1, 9, 30, 5)), "2026-03-01T09:30:05Z");
    EXPECT_EQ(formatWireDate(utc(2026, 3, 1, 9, 30, 5) + milliseconds{999}),
              "2026-03-01T09:30:05Z");
    // Before the epoch the fraction still goes, not the second.
    EXPECT_EQ(formatWireDate(utc(1969, 12, 31, 23, 59, 59) + milliseconds{500}),
              "1969-12-31T23:59:59Z");
    EXPECT_EQ(formatWireDate(Date{}), "1970-01-01T00:00:00Z");
}

TEST(WireDate, ReadsUtcAndNumericOffsets) {
    const Date instant = utc(2026, 3, 1, 9, 30, 5);
    EXPECT_EQ(parseWireDate("2026-03-01T09:30:05Z"), instant);
    EXPECT_EQ(parseWireDate("2026-03-01T10:30:05+01:00"), instant);
    EXPECT_EQ(parseWireDate("2026-03-01T04:00:05-05:30"), instant);
    EXPECT_EQ(parseWireDate("2026-03-02T00:30:05+15:00"), instant);
    EXPECT_EQ(parseWireDate("2024-02-29T00:00:00Z"), utc(2024, 2, 29, 0, 0, 0));
}

TEST(WireDate, RefusesWhatIsNotACompleteRealDate) {
    const std::string_view refused[] = {
        "",
        "2026-03-01T09:30:05",        // no zone
        "2026-03-01T09:30:05.250Z",   // fraction
        "2026-03-01 09:30:05Z",       // space instead of T
        "2026-03-01t09:30:05z",       // lower case
        "2026-3-1T9:30:5Z",           // short fields
        "2026-03-01T09:30:05+0100",   // offset without colon
        "2026-03-01T09:30:05+24:00",  // offset out of range
        "2026-03-01T09:30:05 Z",
        "2026-03-01T09:30:05ZZ",
        "2026-02-29T00:00:00Z",  // not a leap year
        "2026-13-01T00:00:00Z",
        "2026-00-10T00:00:00Z",
        "2026-04-31T00:00:00Z",
        "2026-03-01T24:00:00Z",
        "2026-03-01T09:60:00Z",
        "2026-03-01T09:30:60Z",  // leap seconds are not kept by the clock
        "+026-03-01T09:30:05Z",
        "9999-12-31T23:59:59Z",  // beyond what the clock type holds
        "0001-01-01T00:00:00Z",
    };
    for (std::string_view text : refused) EXPECT_EQ(parseWireDate(text), std::nullopt) << text;
}

TEST(WireDate, ReadsBackWhatItWritesToTheSameWholeSecond) {
    const Date samples[] = {
        utc(2026, 3, 1, 9, 30, 5) + microseconds{123456},
        utc(2000, 2, 29, 23, 59, 59) + nanoseconds{999999999},
        utc(1970, 1, 1, 0, 0, 0),
        utc(1969, 7, 20, 20, 17, 40) + milliseconds{250},
        utc(2262, 4, 11, 0, 0, 0),
    };
    for (Date date : samples) {
        EXPECT_EQ(parseWireDate(formatWireDate(date)), floor<seconds>(date))
            << formatWireDate(date);
    }
}

}  // namespace
}  // namespace kestrune
