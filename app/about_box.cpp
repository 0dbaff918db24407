#include "app/about_box.h"

#include "platform/gbk.h"
#include "platform/ui/dialog.h"

#include <QIcon>
#include <QLabel>

namespace velkor::app {

void runAboutBox(QWidget* owner)
{
    using ui::Kind;
    // The only window that is not skinned.
    static const ui::DialogTemplate tpl{
        100,
        "",
        170,
        62,
        {
            {1, Kind::Picture, "", 10, 12, 21, 20},
            {2, Kind::Static, gbk::lit("互联网语音通信.Velkor1.10"), 40, 14, 125, 8},
            {3, Kind::Static, "2008.07.23", 40, 30, 125, 8},
        },
        false,
        false,
    };
    ui::Dialog box(tpl, owner);
    const QPixmap icon = QIcon(QStringLiteral(":/icon/128.png")).pixmap(32, 32);
    box.controlAs<QLabel>(1)->setPixmap(icon);
    box.runModal();
}

} // namespace velkor::app
