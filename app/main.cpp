#include "app/application.h"
#include "phone/web_browser.h"

#include <QApplication>
#include <unistd.h>

int main(int argc, char** argv)
{
    // The embedded browser's engine shares the GUI's OpenGL contexts; as root it
    // cannot run its renderer sandbox.
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    if (::geteuid() == 0)
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    QApplication qapp(argc, argv);
    QApplication::setApplicationName(QStringLiteral("velkor"));
    velkor::phone::useWebEngineBrowser();
    velkor::app::CTellanApp app;
    app.InitInstance();
    return app.ExitInstance();
}
