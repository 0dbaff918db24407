#include "app/application.h"

#include "app/about_box.h"
#include "login/login_window.h"
#include "phone/main_window.h"
#include "platform/single_instance.h"
#include "platform/ui/dialog.h"
#include "service/exchange.h"
#include "skin/skin.h"

#include <QApplication>
#include <QWidget>

namespace velkor::app {

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

    ui::Dialog::setCreationHook(skin::skinWindow);
    skin::start();
    skin::load("superxp.rss", 0);

    login::CTellanDlg loginWindow([](const service::ServiceAccount& request) { return service::verify(request); },
                                  phone::runMainWindow, runAboutBox);
    loginWindow.runModal();
    return false;
}

int CTellanApp::ExitInstance()
{
    skin::stop();
    return 0;
}

} // namespace velkor::app
