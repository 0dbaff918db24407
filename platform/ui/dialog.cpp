#include "platform/ui/dialog.h"

#include "platform/ui/seams.h"
#include "platform/ui/text.h"
#include "platform/ui/virtual_clock.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QEventLoop>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QSlider>
#include <QThread>
#include <QTimerEvent>

#include <cmath>

namespace velkor::ui {

namespace {

Dialog::CreationHook& creationHook()
{
    static Dialog::CreationHook hook;
    return hook;
}

// A check box toggles on a click anywhere in its rectangle, not only on its label.
class CheckBox : public QCheckBox {
public:
    using QCheckBox::QCheckBox;

protected:
    bool hitButton(const QPoint& pos) const override { return rect().contains(pos); }
};

} // namespace

BaseUnits baseUnits(const QFont& font)
{
    const QFontMetrics fm(font);
    const int sum = fm.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    return {(sum / 26 + 1) / 2, fm.height()};
}

QFont dialogFont()
{
    QFont f;
    f.setFamilies({QStringLiteral("SimSun"), QStringLiteral("宋体"), QStringLiteral("AR PL UMing CN"),
                   QStringLiteral("AR PL UMing TW"), QStringLiteral("Noto Sans CJK SC")});
    f.setPixelSize(12); // 9 pt at 96 dpi
    return f;
}

Dialog::Dialog(const DialogTemplate& tpl, QWidget* parent) : QDialog(parent), dialogId_(tpl.id)
{
    setObjectName(QStringLiteral("d%1").arg(tpl.id));
    Qt::WindowFlags flags = Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                            Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
    if (tpl.minimizeBox)
        flags |= Qt::WindowMinimizeButtonHint;
    setWindowFlags(flags);
    if (tpl.skinned && creationHook())
        creationHook()(this, dialogId_);
    setFont(dialogFont());
    units_ = baseUnits(font());
    setWindowTitle(toQ(tpl.caption));
    setFixedSize(mapDialogRect(0, 0, tpl.w, tpl.h).size());
    for (const auto& c : tpl.controls)
        controls_[c.id] = createControl(c);
    installEventFilter(this);
}

Dialog::~Dialog()
{
    lifeline_.end();
    if (auto* clock = VirtualClock::current())
        for (const auto& [id, t] : timers_)
            clock->stop(this, id);
}

void Dialog::setCreationHook(CreationHook hook) { creationHook() = std::move(hook); }

QRect Dialog::mapDialogRect(int x, int y, int w, int h) const
{
    auto px = [](int v, int unit, int div) { return static_cast<int>(std::lround(double(v) * unit / div)); };
    const int left = px(x, units_.cx, 4), top = px(y, units_.cy, 8);
    return QRect(left, top, px(x + w, units_.cx, 4) - left, px(y + h, units_.cy, 8) - top);
}

QWidget* Dialog::createControl(const ControlTemplate& c)
{
    QWidget* w = nullptr;
    const QString caption = toQ(c.caption);
    switch (c.kind) {
    case Kind::PushButton: {
        auto* b = new QPushButton(caption, this);
        b->setAutoDefault(false);
        connect(b, &QPushButton::clicked, this, [this, id = c.id] {
            if (auto it = commands_.find({id, kClicked}); it != commands_.end())
                it->second();
        });
        w = b;
        break;
    }
    case Kind::CheckBox: {
        auto* b = new CheckBox(caption, this);
        connect(b, &QCheckBox::clicked, this, [this, id = c.id] {
            if (auto it = commands_.find({id, kClicked}); it != commands_.end())
                it->second();
        });
        w = b;
        break;
    }
    case Kind::Edit: {
        auto* e = new QLineEdit(caption, this);
        if (c.style & kPassword)
            e->setEchoMode(QLineEdit::Password);
        connect(e, &QLineEdit::textEdited, this, [this, id = c.id] {
            if (auto it = commands_.find({id, kEditChange}); it != commands_.end())
                it->second();
        });
        w = e;
        break;
    }
    case Kind::ComboBoxEx: {
        auto* cb = new QComboBox(this);
        cb->setEditable(true);
        cb->setInsertPolicy(QComboBox::NoInsert);
        cb->setMaxVisibleItems(10);
        connect(cb, &QComboBox::activated, this, [this, id = c.id](int) {
            if (auto it = commands_.find({id, kSelChange}); it != commands_.end())
                it->second();
        });
        w = cb;
        break;
    }
    case Kind::Static: {
        auto* l = new QLabel(caption, this);
        l->setAlignment((c.style & kCentered)  ? Qt::AlignHCenter | Qt::AlignVCenter
                        : (c.style & kRight) ? Qt::AlignRight | Qt::AlignVCenter
                                             : Qt::AlignLeft | Qt::AlignVCenter);
        w = l;
        break;
    }
    case Kind::Picture: {
        auto* l = new QLabel(this);
        l->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        w = l;
        break;
    }
    case Kind::VTrackbar: {
        auto* s = new QSlider(Qt::Vertical, this);
        s->setTickPosition(QSlider::NoTicks);
        w = s;
        break;
    }
    case Kind::VProgress: {
        auto* p = new QProgressBar(this);
        p->setOrientation(Qt::Vertical);
        p->setTextVisible(false);
        w = p;
        break;
    }
    case Kind::ListBox:
        w = new QListWidget(this);
        break;
    case Kind::Custom:
        w = new QWidget(this);
        break;
    }
    w->setObjectName(QStringLiteral("c%1").arg(c.id));
    w->setGeometry(mapDialogRect(c.x, c.y, c.w, c.h));
    if (c.kind == Kind::ComboBoxEx) // the template height includes the drop-down list
        w->resize(w->width(), std::max(w->sizeHint().height(), mapDialogRect(0, 0, 0, 14).height()));
    if (c.kind == Kind::Picture)
        w->resize(w->size()); // a bitmap shows at its natural size (set by setPixmap)
    if (c.style & kDisabled)
        w->setEnabled(false);
    if (c.style & kNoTabStop)
        w->setFocusPolicy(Qt::NoFocus);
    w->setVisible(!(c.style & kHidden));
    watch(w);
    return w;
}

void Dialog::watch(QWidget* w)
{
    w->installEventFilter(this);
    for (auto* child : w->findChildren<QWidget*>())
        child->installEventFilter(this);
}

QWidget* Dialog::control(int id) const
{
    auto it = controls_.find(id);
    return it == controls_.end() ? nullptr : it->second.data();
}

void Dialog::replaceControl(int id, QWidget* widget)
{
    QWidget* old = control(id);
    widget->setParent(this);
    widget->setObjectName(QStringLiteral("c%1").arg(id));
    if (old) {
        widget->setGeometry(old->geometry());
        widget->setVisible(old->isVisibleTo(this));
        old->deleteLater();
    }
    controls_[id] = widget;
    watch(widget);
}

void Dialog::setItemText(int id, const std::string& gbk)
{
    QWidget* w = control(id);
    const QString t = toQ(gbk);
    if (auto* l = qobject_cast<QLabel*>(w))
        l->setText(t);
    else if (auto* e = qobject_cast<QLineEdit*>(w))
        e->setText(t);
    else if (auto* cb = qobject_cast<QComboBox*>(w))
        cb->setEditText(t);
    else if (auto* b = qobject_cast<QAbstractButton*>(w))
        b->setText(t);
}

std::string Dialog::itemText(int id) const
{
    QWidget* w = control(id);
    if (auto* l = qobject_cast<QLabel*>(w))
        return fromQ(l->text());
    if (auto* e = qobject_cast<QLineEdit*>(w))
        return fromQ(e->text());
    if (auto* cb = qobject_cast<QComboBox*>(w))
        return fromQ(cb->currentText());
    if (auto* b = qobject_cast<QAbstractButton*>(w))
        return fromQ(b->text());
    return {};
}

bool Dialog::isChecked(int id) const
{
    auto* b = qobject_cast<QAbstractButton*>(control(id));
    return b && b->isChecked();
}

void Dialog::setChecked(int id, bool on)
{
    if (auto* b = qobject_cast<QAbstractButton*>(control(id)))
        b->setChecked(on);
}

void Dialog::enableItem(int id, bool on)
{
    if (QWidget* w = control(id))
        w->setEnabled(on);
}

void Dialog::showItem(int id, bool on)
{
    if (QWidget* w = control(id))
        w->setVisible(on);
}

void Dialog::onCommand(int id, std::function<void()> handler, int notify)
{
    commands_[{id, notify}] = std::move(handler);
}

void Dialog::onMessage(int number, std::function<long()> handler) { messages_[number] = std::move(handler); }

long Dialog::deliverMessage(int number)
{
    auto it = messages_.find(number);
    return it == messages_.end() ? 0 : it->second();
}

void Dialog::postMessage(int number)
{
    runOn(ref(), [number](Dialog* d) { d->deliverMessage(number); });
}

long Dialog::sendMessage(const WindowRef<Dialog>& window, int number)
{
    long result = 0;
    sendTo(window, [&](Dialog* d) { result = d->deliverMessage(number); });
    return result;
}

void Dialog::setTimer(int id, int intervalMs)
{
    Timer& t = timers_[id];
    t.interval = intervalMs;
    if (auto* clock = VirtualClock::current()) {
        clock->start(this, id, intervalMs);
        return;
    }
    if (t.qtId)
        qtToId_.remove(t.qtId), QObject::killTimer(t.qtId);
    t.qtId = QObject::startTimer(intervalMs, Qt::PreciseTimer);
    qtToId_.insert(t.qtId, id);
}

void Dialog::killTimer(int id)
{
    auto it = timers_.find(id);
    if (it == timers_.end())
        return;
    if (auto* clock = VirtualClock::current())
        clock->stop(this, id);
    if (it->second.qtId) {
        qtToId_.remove(it->second.qtId);
        QObject::killTimer(it->second.qtId);
    }
    timers_.erase(it);
}

bool Dialog::timerActive(int id) const { return timers_.count(id) != 0; }

int Dialog::timerInterval(int id) const
{
    auto it = timers_.find(id);
    return it == timers_.end() ? 0 : it->second.interval;
}

void Dialog::fireTimer(int id)
{
    if (timerActive(id))
        onTimer(id);
}

void Dialog::timerEvent(QTimerEvent* e)
{
    auto it = qtToId_.find(e->timerId());
    if (it == qtToId_.end()) {
        QDialog::timerEvent(e);
        return;
    }
    fireTimer(it.value());
}

void Dialog::onTimer(int) {}

int Dialog::runModal()
{
    QEventLoop loop;
    loop_ = &loop;
    result_ = 0;
    show();
    raise();
    activateWindow();
    const int r = loop.exec(QEventLoop::DialogExec);
    loop_ = nullptr;
    return r;
}

void Dialog::endDialog(int result)
{
    result_ = result;
    setResult(result);
    hide();
    if (loop_)
        loop_->exit(result);
}

bool Dialog::preTranslateKey(QKeyEvent*) { return false; }

bool Dialog::isEnterOrEscape(const QKeyEvent* event)
{
    const int key = event->key();
    return key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Escape;
}

bool Dialog::eventFilter(QObject* watched, QEvent* e)
{
    if (e->type() == QEvent::KeyPress && preTranslateKey(static_cast<QKeyEvent*>(e)))
        return true;
    if (e->type() == QEvent::ChildAdded && watched != this) {
        if (auto* w = qobject_cast<QWidget*>(static_cast<QChildEvent*>(e)->child()))
            w->installEventFilter(this);
    }
    return QDialog::eventFilter(watched, e);
}

void Dialog::keyPressEvent(QKeyEvent* e)
{
    // A dialog closes with Esc (as a cancel); Enter presses no default button.
    if (e->key() == Qt::Key_Escape && e->modifiers() == Qt::NoModifier) {
        close();
        return;
    }
    if (e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter)
        return;
    QDialog::keyPressEvent(e);
}

void Dialog::closeEvent(QCloseEvent* e)
{
    e->accept();
    endDialog(kIdCancel);
}

bool Dialog::event(QEvent* e)
{
    return QDialog::event(e);
}

} // namespace velkor::ui
