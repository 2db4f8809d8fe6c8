// The marker arithmetic: thumb rule, drag mapping, stepping, band, ClipValue.
#include <gtest/gtest.h>
#include <QLocale>

#include <stdexcept>

#include "rules/Conversions.h"
#include "rules/MarkerRules.h"

namespace {

TEST(MarkerRules, ThumbRulePutsTheEndsOnTheStripEdges) {
    EXPECT_FLOAT_EQ(thumbLeft(1, 100, 240, 6060, 375), 240);
    EXPECT_FLOAT_EQ(thumbLeft(100, 100, 240, 6060, 375), 240 + 6060 - 375);
    EXPECT_FLOAT_EQ(thumbLeft(50, 99, 0, 1000, 100), 450);
    EXPECT_THROW(thumbLeft(1, 1, 240, 6060, 375), std::domain_error);
}

TEST(MarkerRules, DragMappingRoundsTiesToEvenAndReachesZeroAndMax) {
    EXPECT_EQ(dragValue(240, 240, 6060, 375, 100), 0);  // left end: one below the minimum
    EXPECT_EQ(dragValue(240 + 5685, 240, 6060, 375, 100), 100);
    // 2.5 frames' worth of travel rounds to 2, 3.5 to 4.
    EXPECT_EQ(dragValue(25, 0, 1100, 100, 100), 2);
    EXPECT_EQ(dragValue(35, 0, 1100, 100, 100), 4);
}

TEST(MarkerRules, SteppingWrapsAtBothEnds) {
    EXPECT_EQ(steppedValue(1, 100, -1), 100);
    EXPECT_EQ(steppedValue(100, 100, +1), 1);
    EXPECT_EQ(steppedValue(50, 100, -1), 49);
    EXPECT_EQ(steppedValue(50, 100, +1), 51);
    EXPECT_EQ(steppedValue(1, 1, -1), 1);
    EXPECT_EQ(steppedValue(1, 1, +1), 1);
}

TEST(MarkerRules, BandSpansTheThumbCentresInEitherOrder) {
    const Band forward = bandBetween(10, 100, 240, 6060, 375, 60, 100, 240, 6060, 375);
    const Band backward = bandBetween(60, 100, 240, 6060, 375, 10, 100, 240, 6060, 375);
    EXPECT_DOUBLE_EQ(forward.left, backward.left);
    EXPECT_DOUBLE_EQ(forward.width, backward.width);
    EXPECT_DOUBLE_EQ(forward.left, 9.0 / 99 * 5685 + 187.5 + 240);
    EXPECT_DOUBLE_EQ(forward.width, 50.0 / 99 * 5685);
    const Band same = bandBetween(42, 100, 240, 6060, 375, 42, 100, 240, 6060, 375);
    EXPECT_EQ(same.width, 0);
    EXPECT_THROW(bandBetween(1, 1, 0, 100, 10, 1, 1, 0, 100, 10), std::domain_error);
}

TEST(MarkerRules, ClipValueAndSwap) {
    EXPECT_EQ(ClipValue(150), 100);
    EXPECT_EQ(ClipValue(-5), 0);
    EXPECT_EQ(ClipValue(42), 42);
    int32_t a = 3, b = 9;
    Swap(a, b);
    EXPECT_EQ(a, 9);
    EXPECT_EQ(b, 3);
    double x = 1.5, y = -2;
    Swap(x, y);
    EXPECT_EQ(x, -2);
}

TEST(Conversions, RoundingOverflowAndLeadingNumbers) {
    EXPECT_EQ(toInt16(2.5), 2);
    EXPECT_EQ(toInt16(3.5), 4);
    EXPECT_EQ(toInt16(-2.5), -2);
    EXPECT_THROW(toInt16(32767.5), OverflowError);
    EXPECT_THROW(toInt32(1e12), OverflowError);
    EXPECT_THROW(toInt32(std::nan("")), OverflowError);
    EXPECT_THROW(add32(INT32_MAX, 1), OverflowError);
    EXPECT_EQ(leadingNumber("0  Shrink To Fit"), 0);
    EXPECT_EQ(leadingNumber("7"), 7);
    EXPECT_DOUBLE_EQ(leadingNumber("29.97"), 29.97);
    EXPECT_EQ(leadingNumber("1150 kbit"), 1150);
    EXPECT_EQ(leadingNumber("abc"), 0);
    EXPECT_EQ(leadingNumber(""), 0);
    EXPECT_EQ(leadingNumber(" - 3x"), -3);
    EXPECT_EQ(strictNumber(" 6 "), 6);
    EXPECT_THROW(strictNumber("6x"), std::invalid_argument);
    EXPECT_THROW(strictNumber(""), std::invalid_argument);
    EXPECT_EQ(realText(25), "25");
    {
        // Rates of 1000 and more are written without a group separator, whatever the locale.
        const QLocale saved;
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
        EXPECT_EQ(realText(1000), "1000");
        EXPECT_EQ(realText(12345.5), "12345.5");
        QLocale::setDefault(saved);
    }
}

}  // namespace
