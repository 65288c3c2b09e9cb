#include "platform/core/StatValueText.h"

#include <charconv>
#include <cmath>
#include <string>

namespace {

// The decimal digits of a value's shortest round-trip form: value = 0.digits × 10^exponent.
struct Decimal {
    std::string digits;
    int exponent = 0;
};

Decimal shortestDecimal(double magnitude) {
    char buf[64];
    const auto result =
        std::to_chars(buf, buf + sizeof buf, magnitude, std::chars_format::scientific);
    const std::string text(buf, result.ptr);
    const auto e = text.find('e');
    Decimal d;
    for (std::size_t i = 0; i < e; ++i)
        if (text[i] != '.')
            d.digits += text[i];
    d.exponent = std::stoi(text.substr(e + 1)) + 1;
    return d;
}

// Keeps `keep` leading digits, rounding half away from zero on the digits themselves.
Decimal roundDigits(Decimal d, int keep) {
    if (keep >= int(d.digits.size()))
        return d;
    if (keep < 0)
        return Decimal{"0", 1};
    const bool up = d.digits[std::size_t(keep)] >= '5';
    d.digits.resize(std::size_t(keep));
    if (up) {
        int i = keep - 1;
        while (i >= 0 && d.digits[std::size_t(i)] == '9')
            d.digits[std::size_t(i--)] = '0';
        if (i >= 0) {
            ++d.digits[std::size_t(i)];
        } else {
            d.digits.insert(d.digits.begin(), '1');
            ++d.exponent;
        }
    }
    if (d.digits.empty())
        return Decimal{"0", 1};
    return d;
}

} // namespace

QString StatValueText(double value, const TFormatSettings& settings) {
    return StatNumberText(value, 8, settings);
}

QString StatNumberText(double value, int significant, const TFormatSettings& settings) {
    if (!std::isfinite(value))
        return floatToStrGeneral(value, 15, settings);
    const QChar point = settings.decimalSeparator;
    if (value == 0)
        return QStringLiteral("0") + point + QStringLiteral("00");
    Decimal d = shortestDecimal(std::fabs(value));
    d = roundDigits(d, std::min(significant, d.exponent + 2));
    const bool zero = d.digits.find_first_not_of('0') == std::string::npos;
    QString out;
    if (value < 0 && !zero)
        out += QLatin1Char('-');
    if (zero)
        return QStringLiteral("0") + point + QStringLiteral("00");
    const QString digits = QString::fromLatin1(d.digits.data(), int(d.digits.size()));
    if (d.exponent > significant) {
        QString mantissa = digits;
        while (mantissa.size() > 1 && mantissa.endsWith(QLatin1Char('0')))
            mantissa.chop(1);
        out += mantissa.at(0);
        if (mantissa.size() > 1)
            out += point + mantissa.mid(1);
        out += QLatin1Char('E') + QString::number(d.exponent - 1);
        return out;
    }
    // Place the digits around the point and pad to exactly two decimals.
    QString whole;
    QString fraction;
    if (d.exponent <= 0) {
        whole = QStringLiteral("0");
        fraction = QString(-d.exponent, QLatin1Char('0')) + digits;
    } else if (digits.size() <= d.exponent) {
        whole = digits + QString(d.exponent - digits.size(), QLatin1Char('0'));
    } else {
        whole = digits.left(d.exponent);
        fraction = digits.mid(d.exponent);
    }
    fraction = fraction.leftJustified(2, QLatin1Char('0'), true);
    return out + whole + point + fraction;
}
