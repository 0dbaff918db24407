#include "login/login_window.h"

#include "platform/gbk.h"
#include "platform/ui/seams.h"
#include "platform/ui/text.h"
#include "platform/ui/ui_thread.h"
#include "service/address.h"

#include <QComboBox>
#include <QContextMenuEvent>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPixmap>

#include <atomic>
#include <thread>

namespace velkor::login {

using gbk::lit;

namespace {

constexpr int kWarningSound = 151;
constexpr int kClickSound = 148;
std::atomic<int> g_workers{0};

} // namespace

const ui::DialogTemplate& CTellanDlg::dialogTemplate()
{
    using ui::Kind;
    static const ui::DialogTemplate t{
        kDialogId,
        "Velkor1.10",
        254,
        175,
        {
            {kAccountBox, Kind::ComboBoxEx, "", 62, 72, 119, 85},
            {kPasswordBox, Kind::Edit, "", 62, 92, 119, 13, ui::kPassword},
            {kSaveAccount, Kind::CheckBox, lit("保存帐号"), 65, 110, 48, 10},
            {kSavePassword, Kind::CheckBox, lit("保存密码"), 113, 110, 48, 10},
            {kLoginButton, Kind::PushButton, "", 65, 135, 51, 18},
            {kExitButton, Kind::PushButton, "", 121, 135, 51, 18},
            {kRegisterButton, Kind::PushButton, "", 185, 72, 59, 13},
            {kPasswordPageButton, Kind::PushButton, "", 185, 93, 59, 13},
            {kDeleteButton, Kind::PushButton, "", 157, 109, 88, 13},
            {kStatusLine, Kind::Static, "", 53, 162, 132, 9, ui::kCentered},
            {kProgressPicture, Kind::Picture, "", 72, 123, 96, 9, ui::kHidden},
        },
    };
    return t;
}

CTellanDlg::CTellanDlg(Verifier verifier, MainWindowRunner runMain, AboutRunner runAbout,
                       FirstDeviceName firstDevice)
    : ui::Dialog(dialogTemplate()), verifier_(std::move(verifier)), runMain_(std::move(runMain)),
      runAbout_(std::move(runAbout)), firstDevice_(std::move(firstDevice))
{
    onCommand(kLoginButton, [this] { onLogin(); });
    onCommand(kExitButton, [this] {
        // A quit request: ends the modal run once the current handler has returned.
        QMetaObject::invokeMethod(this, [this] { endDialog(0); }, Qt::QueuedConnection);
    });
    onCommand(kRegisterButton, [this] { openPage(service::page::registration); });
    onCommand(kPasswordPageButton, [this] { openPage(service::page::password); });
    onCommand(kAccountBox, [this] { onAccountSelected(); }, kSelChange);
    onCommand(kSaveAccount, [this] {
        settings::LoginForm f{isChecked(kSaveAccount), isChecked(kSavePassword), itemText(kPasswordBox)};
        settings::OnSaveAccountClicked(f);
        setChecked(kSavePassword, f.savePassword);
    });
    onCommand(kSavePassword, [this] {
        settings::LoginForm f{isChecked(kSaveAccount), isChecked(kSavePassword), itemText(kPasswordBox)};
        settings::OnSavePasswordClicked(f);
        setChecked(kSaveAccount, f.saveAccount);
    });
    onCommand(kDeleteButton, [this] { onDelete(); });
    onMessage(ui::kWmAccountVerified, [this] { return onAccountVerified(); });
    setUp();
}

CTellanDlg::~CTellanDlg() = default;

void CTellanDlg::setUp()
{
    // The window menu: the about item after a separator.
    menu_ = new QMenu(this);
    menu_->addSeparator();
    const std::string about = lit("关于Velkor");
    if (!about.empty())
        menu_->addAction(ui::toQ(about), this, [this] {
            if (runAbout_)
                runAbout_(this);
        });
    setWindowIcon(QIcon(QStringLiteral(":/icon/128.png")));
    controlAs<QLineEdit>(kPasswordBox)->setMaxLength(25);
    frame_ = 1;
    showFrame(157);
    fillAccountBox();
    const auto devices = settings::ReadAudioDevices([this] { return firstDevice_ ? firstDevice_(true) : std::string(); },
                                                    [this] { return firstDevice_ ? firstDevice_(false) : std::string(); });
    playDevice_ = devices.playback;
    recordDevice_ = devices.recording;
    account_.balance = "0";
}

void CTellanDlg::fillAccountBox()
{
    const settings::AccountBoxFill fill = settings::FillAccountBox();
    auto* box = controlAs<QComboBox>(kAccountBox);
    box->clear();
    for (const auto& item : fill.items)
        box->addItem(ui::toQ(item));
    box->setCurrentIndex(fill.selected);
    if (fill.selected < 0)
        box->setEditText(QString());
    applyForm(fill.form);
}

void CTellanDlg::applyForm(const settings::LoginForm& form)
{
    setChecked(kSaveAccount, form.saveAccount);
    setChecked(kSavePassword, form.savePassword);
    setItemText(kPasswordBox, form.password);
}

void CTellanDlg::onAccountSelected()
{
    settings::LoginForm form{isChecked(kSaveAccount), isChecked(kSavePassword), itemText(kPasswordBox)};
    if (settings::SelectAccount(itemText(kAccountBox), form))
        applyForm(form);
}

void CTellanDlg::onDelete()
{
    const std::string text = itemText(kAccountBox);
    if (text.empty())
        return;
    settings::DeleteAccount(text);
    fillAccountBox();
}

void CTellanDlg::rememberAccount()
{
    // The texts at this moment: the verified ones unless edited meanwhile.
    settings::RememberLogin(itemText(kAccountBox), itemText(kPasswordBox), isChecked(kSaveAccount),
                            isChecked(kSavePassword), networkName_);
}

void CTellanDlg::contextMenuEvent(QContextMenuEvent* event) { menu_->exec(event->globalPos()); }

bool CTellanDlg::preTranslateKey(QKeyEvent* event)
{
    // Neither Enter nor Esc closes the window or presses a button.
    return isEnterOrEscape(event);
}

void CTellanDlg::onLogin()
{
    setItemText(kStatusLine, "");
    account_.accountId = itemText(kAccountBox);
    account_.password = itemText(kPasswordBox);

    // Lengths count GBK bytes: a Chinese character counts two.
    const char* problem = nullptr;
    if (account_.accountId.empty())
        problem = "请输入帐号!";
    else if (account_.accountId.size() < 4)
        problem = "请输入正确帐号!";
    else if (account_.password.empty())
        problem = "请输入密码!";
    else if (account_.password.size() < 4)
        problem = "请输入正确密码!";
    if (problem) {
        ui::playSound(kWarningSound);
        setItemText(kStatusLine, lit(problem));
        return;
    }

    setTimer(kAnimationTimer, kAnimationMs);
    enableItem(kLoginButton, false);
    showItem(kProgressPicture, true);
    setItemText(kStatusLine, lit("正在验证帐号!"));

    // The exchange runs on a thread of its own; its effects reach this window on
    // the user-interface thread in order, and never a window that is gone.
    const ui::WindowRef<CTellanDlg> self = ref<CTellanDlg>();
    ++g_workers;
    std::thread([self, verifier = verifier_, request = account_] {
        service::VerifyResult r = verifier(request);
        switch (r.outcome) {
        case service::VerifyOutcome::Ok:
            // Hand over and wait: the handler returns when the main window has closed.
            ui::sendTo(self, [&r](CTellanDlg* d) {
                d->statusWord_ = r.statusWord;
                d->account_ = r.account;
                d->deliverMessage(ui::kWmAccountVerified);
            });
            break;
        case service::VerifyOutcome::Unknown:
            ui::runOn(self, [word = r.statusWord](CTellanDlg* d) { d->statusWord_ = word; });
            break;
        default:
            ui::playSound(kWarningSound);
            ui::runOn(self, [word = r.statusWord, outcome = r.outcome](CTellanDlg* d) {
                d->statusWord_ = word;
                d->backToIdle(service::statusText(outcome));
            });
            break;
        }
        --g_workers;
    }).detach();
}

int CTellanDlg::workersRunning() { return g_workers.load(); }

void CTellanDlg::backToIdle(const std::string& statusText)
{
    setItemText(kStatusLine, statusText);
    enableItem(kLoginButton, true);
    showItem(kProgressPicture, false);
    killTimer(kAnimationTimer);
}

void CTellanDlg::onTimer(int)
{
    static constexpr int kBitmapAfter[] = {0, 157, 155, 158}; // by frame before the tick
    const int before = frame_;
    frame_ = before == 3 ? 1 : before + 1;
    showFrame(kBitmapAfter[before]);
}

void CTellanDlg::showFrame(int bitmap)
{
    auto* picture = controlAs<QLabel>(kProgressPicture);
    const QPixmap pm(QStringLiteral(":/bitmap/%1.bmp").arg(bitmap));
    picture->setPixmap(pm);
    picture->setProperty("bitmap", bitmap);
    if (!pm.isNull())
        picture->resize(pm.size()); // natural size
}

long CTellanDlg::onAccountVerified()
{
    backToIdle(lit("正在登陆服务器"));
    rememberAccount();
    hide();
    HandOver handOver{account_, playDevice_, recordDevice_};
    if (runMain_)
        runMain_(*this, handOver);
    return 1;
}

void CTellanDlg::openPage(std::string_view path)
{
    ui::playSound(kClickSound);
    ui::seams().openUrl(service::pageUrl(path));
}

} // namespace velkor::login
