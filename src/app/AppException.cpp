#include "app/AppException.h"

#include "widgets/Dialogs.h"

#include <QApplication>

QString AppExceptionText(const QString& message) {
    if (!message.isEmpty() && message.back().unicode() > u'.')
        return message + ".";
    return message;
}

void AppException(QWidget* sender, std::exception_ptr error) {
    using vorlin::widgets::MessageIcon;
    QString text;
    MessageIcon icon = MessageIcon::Error;
    try {
        std::rethrow_exception(error);
    } catch (const AccessViolation&) {
        return;
    } catch (const FFmpegException& e) {
        text = QString::fromUtf8(e.what());
        icon = MessageIcon::Warning;
    } catch (const std::exception& e) {
        text = QString::fromUtf8(e.what());
    } catch (...) {
        text = QStringLiteral("Unknown error");
    }
    vorlin::widgets::dialogs().message(sender, QApplication::applicationDisplayName(),
                                       AppExceptionText(text), icon);
}
