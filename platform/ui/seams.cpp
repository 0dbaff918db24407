#include "platform/ui/seams.h"

#include "platform/ui/text.h"

#include <QDesktopServices>
#include <QMessageBox>
#include <QProcess>
#include <QUrl>

namespace velkor::ui {

namespace {

int showBox(QWidget* owner, const std::string& text, const std::string& caption, unsigned flags)
{
    QMessageBox box(owner);
    box.setWindowTitle(toQ(caption));
    box.setText(toQ(text));
    box.setIcon((flags & 0xF0) == kMbIconExclamation ? QMessageBox::Warning : QMessageBox::NoIcon);
    box.setStandardButtons(QMessageBox::Ok);
    box.exec();
    return kIdOk;
}

// xdg-open, detached: the browser or file manager outlives nothing of ours.
void xdgOpen(const std::string& target)
{
    QProcess::startDetached(QStringLiteral("xdg-open"), {toQ(target)});
}

Seams production()
{
    Seams s;
    s.calendarNow = [] { return std::time(nullptr); };
    s.messageBox = showBox;
    s.playSound = [](int) {};
    s.openUrl = xdgOpen;
    s.openFolder = xdgOpen;
    return s;
}

} // namespace

Seams& seams()
{
    static Seams s = production();
    return s;
}

void resetSeams() { seams() = production(); }

int messageBox(QWidget* owner, const std::string& text, const std::string& caption, unsigned flags)
{
    return seams().messageBox(owner, text, caption, flags);
}

} // namespace velkor::ui
