// The skin engine: gives every skinned window its look from the skin file, a Qt
// style sheet, plus decorations the windows do not draw themselves. No window
// depends on it: without a skin file, or never started, every window still works.
#pragma once

#include <string>

class QWidget;

namespace velkor::skin {

// Starts the engine.
void start();
// Loads a skin file: a name without a folder is looked up in the working folder,
// then beside the program and in its data folder; the built-in skin serves when
// none is found.
void load(const std::string& fileName, int flags);
// Skins one dialog window (called while the window is created).
void skinWindow(QWidget* window, int dialogId);
// Stops the engine; harmless when it never started.
void stop();

bool started();

} // namespace velkor::skin
