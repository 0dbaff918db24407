#include "phone/main_window.h"

#include "platform/gbk.h"

#include <QIcon>
#include <QKeyEvent>

namespace velkor::phone {

using gbk::lit;

const ui::DialogTemplate& CDial::dialogTemplate()
{
    using ui::Kind;
    static const ui::DialogTemplate t{
        kDialogId,
        "Velkor1.10",
        200,
        393,
        {
            {1030, Kind::Static, "", 53, 65, 39, 8},
            {1136, Kind::Static, "", 147, 65, 39, 8},
            {1040, Kind::Static, "", 25, 115, 156, 8, ui::kCentered},
        },
    };
    return t;
}

CDial::CDial(const login::HandOver& handOver, login::CTellanDlg* loginWindow)
    : ui::Dialog(dialogTemplate(), loginWindow), handOver_(handOver), login_(loginWindow)
{
    setWindowIcon(QIcon(QStringLiteral(":/icon/128.png")));
    setItemText(1030, handOver_.account.accountId);
    setItemText(1136, handOver_.account.balance);
    setItemText(1040, lit("帐号验证成功"));
}

CDial::~CDial()
{
    // The program ends with this window: close the hidden login window.
    if (login_)
        login_->close();
}

bool CDial::preTranslateKey(QKeyEvent* event) { return event->key() == Qt::Key_Escape; }

void runMainWindow(login::CTellanDlg& login, const login::HandOver& handOver)
{
    CDial dial(handOver, &login);
    dial.runModal();
}

} // namespace velkor::phone
