#include "rules/Conversions.h"

#include <QLocale>
#include <cmath>
#include <limits>

double roundHalfEven(double value) { return std::nearbyint(value); }  // default rounding mode: ties to even

namespace {
template <typename T>
T checkedRound(double value) {
    if (!std::isfinite(value)) throw OverflowError();
    const double r = roundHalfEven(value);
    if (r < double(std::numeric_limits<T>::min()) || r > double(std::numeric_limits<T>::max())) throw OverflowError();
    return static_cast<T>(r);
}
int32_t checked32(int64_t v) {
    if (v < std::numeric_limits<int32_t>::min() || v > std::numeric_limits<int32_t>::max()) throw OverflowError();
    return static_cast<int32_t>(v);
}
}  // namespace

int16_t toInt16(double value) { return checkedRound<int16_t>(value); }
int32_t toInt32(double value) { return checkedRound<int32_t>(value); }
int32_t add32(int64_t a, int64_t b) { return checked32(a + b); }
int32_t sub32(int64_t a, int64_t b) { return checked32(a - b); }
int32_t mul32(int64_t a, int64_t b) {
    // Both operands come from 32-bit values, so the 64-bit product cannot overflow.
    return checked32(a * b);
}

double leadingNumber(const QString& text) {
    QString digits;
    int i = 0;
    const int n = text.size();
    auto skipBlanks = [&] {
        while (i < n && (text[i] == ' ' || text[i] == '\t' || text[i] == '\n' || text[i] == '\r')) ++i;
    };
    skipBlanks();
    if (i < n && (text[i] == '+' || text[i] == '-')) digits += text[i++];
    bool any = false;
    auto takeDigits = [&] {
        for (skipBlanks(); i < n && text[i].isDigit() && text[i].unicode() < 128; skipBlanks()) {
            digits += text[i++];
            any = true;
        }
    };
    takeDigits();
    if (i < n && text[i] == '.') {
        digits += text[i++];
        takeDigits();
    }
    if (!any) return 0;
    if (i < n && (text[i] == 'e' || text[i] == 'E' || text[i] == 'd' || text[i] == 'D')) {
        QString exponent = "e";
        int j = i + 1;
        if (j < n && (text[j] == '+' || text[j] == '-')) exponent += text[j++];
        int start = j;
        while (j < n && text[j].isDigit() && text[j].unicode() < 128) exponent += text[j++];
        if (j > start) digits += exponent;
    }
    bool ok = false;
    const double value = digits.toDouble(&ok);
    return ok && std::isfinite(value) ? value : 0;
}

QString realText(double value) {
    if (value == 0) return QStringLiteral("0");
    // The plain number: the locale's decimal separator, never a group separator ("1000").
    QLocale locale;
    locale.setNumberOptions(locale.numberOptions() | QLocale::OmitGroupSeparator);
    return locale.toString(value, 'g', 15);
}

double strictNumber(const QString& text) {
    bool ok = false;
    const double value = text.trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(value)) throw std::invalid_argument("Type mismatch");
    return value;
}
