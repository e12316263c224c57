#pragma once

#include <QString>

#include <exception>
#include <stdexcept>

class QWidget;

// The media engine's own exception class: shown with a warning icon.
class FFmpegException : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A memory access fault turned into an exception: reported to nobody.
class AccessViolation : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The message as shown: a point is appended when the last character's code is above that of
// "." (so "!" and "." endings stay as they are).
QString AppExceptionText(const QString& message);

// Reports an exception that reached the event loop unhandled; the program goes on.
// FFmpegException: warning box; AccessViolation: nothing; anything else: error box. The box
// is titled with the application title.
void AppException(QWidget* sender, std::exception_ptr error);
