// The main phone window: for now it shows the verified account and its balance;
// closing it ends the program.
#pragma once

#include "login/login_window.h"
#include "platform/ui/dialog.h"

#include <QPointer>

namespace velkor::phone {

inline constexpr int kDialogId = 131;

class CDial : public ui::Dialog {
    Q_OBJECT
public:
    CDial(const login::HandOver& handOver, login::CTellanDlg* loginWindow);
    ~CDial() override;

    static const ui::DialogTemplate& dialogTemplate();

protected:
    bool preTranslateKey(QKeyEvent* event) override;

private:
    login::HandOver handOver_;
    QPointer<login::CTellanDlg> login_;
};

// Runs the main window modally, owned by the hidden login window.
void runMainWindow(login::CTellanDlg& login, const login::HandOver& handOver);

} // namespace velkor::phone
