#pragma once

#include <QString>

#include <cstdint>
#include <optional>

namespace vorlin::formats {

// True when the whole text is a signed decimal integer (no blanks, no exponent).
bool IsIntegerText(const QString& text);

// True when the whole text is a decimal number with "." as the decimal point and an
// optional exponent ("96.5", "-1e3", ".5"), whatever the user's locale.
bool IsNumberText(const QString& text);

// The value of an integer or number text; nothing when the text is neither.
std::optional<int64_t> integerValue(const QString& text);
std::optional<double> numberValue(const QString& text);

} // namespace vorlin::formats
