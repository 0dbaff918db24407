#include "app/application.h"
#include "phone/web_browser.h"

#include <QApplication>
#include <unistd.h>

int main(int argc, char** argv)
{
    // The embedded browser's engine cannot run its renderer sandbox as root.
    // (Its shared OpenGL contexts are made when it first opens: web_browser.cpp.)
    if (::geteuid() == 0)
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    QApplication qapp(argc, argv);
    QApplication::setApplicationName(QStringLiteral("velkor"));
    velkor::phone::useWebEngineBrowser();
    velkor::app::CTellanApp app;
    app.InitInstance();
    return app.ExitInstance();
}
