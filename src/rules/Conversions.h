#pragma once
#include <QString>
#include <cstdint>
#include <stdexcept>

// Numeric conversions with the window's rules: floating-point results become integers by
// rounding to nearest with ties to even, and a result outside the integer's range is an
// error (OverflowError), never a silent wrap.

class OverflowError : public std::overflow_error {
public:
    OverflowError() : std::overflow_error("Overflow") {}
};

// Nearest integer, ties to even ("2.5" -> 2, "3.5" -> 4).
double roundHalfEven(double value);
// 16-bit and 32-bit conversions; throw OverflowError when out of range or not a number.
int16_t toInt16(double value);
int32_t toInt32(double value);
// Checked 32-bit integer arithmetic.
int32_t add32(int64_t a, int64_t b);
int32_t sub32(int64_t a, int64_t b);
int32_t mul32(int64_t a, int64_t b);

// The leading number of a text: blanks are skipped, then an optional sign, digits, an
// optional "." with digits and an optional exponent; reading stops at the first character
// that cannot continue the number. "0  Shrink To Fit" -> 0, "29.97" -> 29.97, "abc" -> 0.
double leadingNumber(const QString& text);

// A text that must be a number as a whole (blanks around it allowed), as when a stored
// setting is converted; throws std::invalid_argument ("Type mismatch") otherwise.
double strictNumber(const QString& text);

// A real number in its default text form: up to 15 significant digits, no trailing zeros,
// the user's decimal separator ("25", "29.97").
QString realText(double value);
