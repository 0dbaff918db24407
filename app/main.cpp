#include "app/application.h"

#include <QApplication>

int main(int argc, char** argv)
{
    QApplication qapp(argc, argv);
    QApplication::setApplicationName(QStringLiteral("velkor"));
    velkor::app::CTellanApp app;
    app.InitInstance();
    return app.ExitInstance();
}
