#include "formats/NumericText.h"

#include <QLocale>

#include <cmath>

namespace vorlin::formats {

bool IsIntegerText(const QString& text) {
    return integerValue(text).has_value();
}

bool IsNumberText(const QString& text) {
    return numberValue(text).has_value();
}

std::optional<int64_t> integerValue(const QString& text) {
    if (text.isEmpty() || text.front().isSpace() || text.back().isSpace())
        return std::nullopt;
    bool ok = false;
    const qlonglong v = text.toLongLong(&ok, 10);
    if (!ok || v > INT32_MAX || v < INT32_MIN)
        return std::nullopt;
    return v;
}

std::optional<double> numberValue(const QString& text) {
    if (text.isEmpty() || text.front().isSpace() || text.back().isSpace())
        return std::nullopt;
    // Only digits, one point, signs and an exponent; the C locale reads "." whatever the
    // user's locale says, and rejects thousands separators.
    for (QChar c : text) {
        if (!(c.isDigit() || c == '.' || c == '-' || c == '+' || c == 'e' || c == 'E'))
            return std::nullopt;
    }
    bool ok = false;
    const double v = QLocale::c().toDouble(text, &ok);
    if (!ok || !std::isfinite(v))
        return std::nullopt;
    return v;
}

} // namespace vorlin::formats
