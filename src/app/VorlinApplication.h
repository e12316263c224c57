#pragma once

#include <QApplication>

#include <exception>
#include <functional>

// QApplication that hands every exception escaping an event handler to one installed
// handler instead of letting it end the program.
class VorlinApplication : public QApplication {
public:
    using ExceptionHandler = std::function<void(QObject* receiver, std::exception_ptr)>;

    VorlinApplication(int& argc, char** argv);

    static void setExceptionHandler(ExceptionHandler handler);

    bool notify(QObject* receiver, QEvent* event) override;
};
