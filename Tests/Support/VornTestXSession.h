#pragma once

// Qt on a private X display (header-only: only tests that link Qt include it). One Xvfb with
// openbox per test program, and the program's QGuiApplication on it through Qt's X platform.

#include "VornTestXDisplay.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QGuiApplication>

#include <chrono>
#include <memory>
#include <thread>

struct VornTestXSession {
    VornTestXDisplay display;
    std::unique_ptr<QGuiApplication> app;

    VornTestXSession() {
        if (!display.ready()) {
            return;
        }
        static int argc = 1;
        static char name[] = "vorn-x-tests";
        static char* argv[] = {name, nullptr};
        qputenv("QT_QPA_PLATFORM", "xcb");
        app = std::make_unique<QGuiApplication>(argc, argv);
    }
};

// The program's one session, started on first use.
inline VornTestXSession& vornTestXSession() {
    static VornTestXSession instance;
    return instance;
}

// Processes Qt's events until `done` holds, within a generous bound for a loaded machine.
template <class Condition>
bool vornWaitFor(Condition done, std::chrono::seconds bound = std::chrono::seconds(60)) {
    const auto deadline = std::chrono::steady_clock::now() + bound;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}
