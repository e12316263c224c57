#include "app/VorlinApplication.h"

#include <cstdio>

namespace {
VorlinApplication::ExceptionHandler g_handler;
}

VorlinApplication::VorlinApplication(int& argc, char** argv) : QApplication(argc, argv) {}

void VorlinApplication::setExceptionHandler(ExceptionHandler handler) {
    g_handler = std::move(handler);
}

bool VorlinApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (...) {
        if (g_handler) {
            try {
                g_handler(receiver, std::current_exception());
            } catch (...) {
                std::fputs("vorlin: exception handler failed\n", stderr);
            }
        } else {
            std::fputs("vorlin: unhandled exception in an event handler\n", stderr);
        }
        return false;
    }
}
