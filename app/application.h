// The application object: one copy per user, the skin, and the whole session
// inside the login window's modal run.
#pragma once

#include <QString>

namespace velkor::app {

inline constexpr const char* kMainCaption = "Velkor1.10";
inline constexpr const char* kLockName = "onlyonehwnd";

class CTellanApp {
public:
    explicit CTellanApp(QString lockName = QString::fromLatin1(kLockName)) : lockName_(std::move(lockName)) {}

    // Runs the program; always false (no message loop of the framework's own follows).
    bool InitInstance();
    // Stops the skin on every way out and returns the exit code.
    int ExitInstance();

private:
    QString lockName_;
};

// Brings the window captioned "Velkor1.10" to the front: restores it when minimised,
// then raises its last active pop-up (the main window above a hidden login window).
void bringToFront();

} // namespace velkor::app
