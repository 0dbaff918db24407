// The places where windows meet the world outside the process. Production code
// calls these; window tests replace them with recorders and scripted answers.
#pragma once

#include <ctime>
#include <functional>
#include <string>

class QWidget;

namespace velkor::ui {

// Message box flags (the values the windows pass).
enum : unsigned {
    kMbOk = 0x0,
    kMbIconExclamation = 0x30,
};
enum : int { kIdOk = 1, kIdCancel = 2 };

struct Seams {
    // Calendar time in seconds (local time is derived from it).
    std::function<std::time_t()> calendarNow;
    // A modal message box owned by `owner`; texts are GBK. Returns the button pressed.
    std::function<int(QWidget* owner, const std::string& text, const std::string& caption, unsigned flags)>
        messageBox;
    // Starts a sound cue and returns at once. Callable from any thread.
    std::function<void(int number)> playSound;
    // Opens a web page in the system's browser / a folder in the file manager.
    std::function<void(const std::string& url)> openUrl;
    std::function<void(const std::string& path)> openFolder;
};

// The seams in force. Set them before threads start; calls may come from any thread.
Seams& seams();
// Restores the production seams (sound: silent until the application installs its player).
void resetSeams();

// Convenience wrappers.
inline void playSound(int number) { seams().playSound(number); }
inline std::time_t calendarNow() { return seams().calendarNow(); }
int messageBox(QWidget* owner, const std::string& text, const std::string& caption, unsigned flags);

} // namespace velkor::ui
