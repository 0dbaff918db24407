#include "app/application.h"

#include "app/about_box.h"
#include "login/login_window.h"
#include "phone/main_window.h"
#include "platform/single_instance.h"
#include "platform/sound.h"
#include "platform/ui/seams.h"
#include "resources/resources.h"
#include "platform/ui/dialog.h"
#include "service/exchange.h"
#include "skin/skin.h"
#include "telephony/sipx_api.h"

#include <QApplication>
#include <QTimer>
#include <QWidget>

#include <thread>

namespace velkor::app {

namespace {
// The telephony engine's libraries load on a worker thread this long after the
// login window is up, so that they neither slow its showing nor the main
// window's opening after the login.
constexpr int kEnginePreloadDelayMs = 300;
} // namespace

void bringToFront()
{
    const QString caption = QString::fromLatin1(kMainCaption);
    // Of the windows with the caption, the owner (the login window) is preferred.
    QWidget* found = nullptr;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->windowTitle() == caption && (!found || !w->parentWidget()))
            found = w;
    if (!found)
        return;
    if (found->isMinimized())
        found->showNormal();
    // Its last active pop-up: a visible window it owns (the main window), else itself.
    QWidget* target = found;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w != found && w->isVisible() && w->parentWidget() == found)
            target = w;
    if (target->isMinimized())
        target->showNormal();
    target->raise();
    target->activateWindow();
}

bool CTellanApp::InitInstance()
{
    SingleInstance lock(lockName_);
    if (!lock.acquire())
        return false; // the running copy has been asked to come to the front
    lock.setFrontRequestHandler(bringToFront);

    initResources();
    sound::CuePlayer cues;
    ui::seams().playSound = [&cues](int number) { cues.play(number); };

    ui::Dialog::setCreationHook(skin::skinWindow);
    skin::start();
    skin::load("superxp.rss", 0);

    login::CTellanDlg loginWindow([](const service::ServiceAccount& request) { return service::verify(request); },
                                  phone::runMainWindow, runAboutBox);
    std::thread preload;
    QTimer preloadTimer;
    preloadTimer.setSingleShot(true);
    QObject::connect(&preloadTimer, &QTimer::timeout, [&preload] { preload = std::thread(tel::preloadSipxEngine); });
    preloadTimer.start(kEnginePreloadDelayMs);
    loginWindow.runModal();
    preloadTimer.stop();
    if (preload.joinable())
        preload.join();
    ui::seams().playSound = [](int) {};
    return false;
}

int CTellanApp::ExitInstance()
{
    skin::stop();
    return 0;
}

} // namespace velkor::app
