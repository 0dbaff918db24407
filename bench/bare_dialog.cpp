// A bare Qt dialog: the yardstick for the client's start-up time.
#include <QApplication>
#include <QDialog>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QDialog d;
    d.setWindowTitle(QStringLiteral("BareDialog"));
    d.resize(381, 263);
    return d.exec();
}
