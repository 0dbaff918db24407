// A small dialog framework on Qt Widgets: windows built from templates of
// controls placed in dialog units, controls reached by ID, handlers bound by
// control ID or message number, timers by numeric ID, posted and sent messages,
// key pre-translation and a modal run that hiding the window does not end.
#pragma once

#include <QDialog>
#include <QFont>
#include <QHash>
#include <QPointer>

#include "platform/ui/ui_thread.h"

class QEventLoop;

#include <functional>
#include <map>
#include <string>
#include <vector>

namespace velkor::ui {

enum class Kind {
    PushButton,
    CheckBox,    // toggles itself
    Edit,
    ComboBoxEx,  // editable drop-down list
    Static,
    Picture,     // bitmap
    VTrackbar,   // vertical slider
    VProgress,   // vertical smooth progress bar
    ListBox,
    Custom,      // a placeholder the window replaces (e.g. an embedded browser)
};

// Style flags of a control.
enum : unsigned {
    kHidden = 1u << 0,
    kCentered = 1u << 1,   // static text centred
    kPassword = 1u << 2,   // masked edit
    kRight = 1u << 3,      // static text right-aligned
    kDisabled = 1u << 4,
    kNoTabStop = 1u << 5,
};

struct ControlTemplate {
    int id;
    Kind kind;
    std::string caption; // GBK
    int x, y, w, h;      // dialog units
    unsigned style = 0;
};

struct DialogTemplate {
    int id;                 // dialog resource number
    std::string caption;    // GBK
    int w, h;               // dialog units
    std::vector<ControlTemplate> controls;
    bool minimizeBox = true;
    bool skinned = true;    // handed to the creation hook (the skin)
};

// Window messages posted or sent to dialogs (both parameters always 0).
enum Message : int {
    kWmAccountVerified = 2074,
    kWmCallDisconnected = 5501,
    kWmCallConnected = 5502,
    kWmCallRinging = 5503,
};

// Dialog base units of a font: (average width of A..Z a..z, rounded) and its height.
struct BaseUnits {
    int cx;
    int cy;
};
BaseUnits baseUnits(const QFont& font);
// The dialog font: SimSun 9 pt, served by a Song/Ming face where SimSun is missing.
QFont dialogFont();

class Dialog : public QDialog {
    Q_OBJECT
public:
    explicit Dialog(const DialogTemplate& tpl, QWidget* parent = nullptr);
    ~Dialog() override;

    int dialogId() const { return dialogId_; }

    // Controls by ID.
    QWidget* control(int id) const;
    template <class T>
    T* controlAs(int id) const { return qobject_cast<T*>(control(id)); }
    // Replaces a Custom control's placeholder with a widget of the window's own.
    void replaceControl(int id, QWidget* widget);
    // Pixel rectangle of a rectangle in dialog units.
    QRect mapDialogRect(int x, int y, int w, int h) const;

    // Texts of controls and of the window, GBK.
    void setItemText(int id, const std::string& gbk);
    std::string itemText(int id) const;
    bool isChecked(int id) const;
    void setChecked(int id, bool on);
    void enableItem(int id, bool on);
    void showItem(int id, bool on);

    // Message map: a click of a button or check box, a selection change (code 1)
    // of a combo box, or a window message by number.
    enum Notify { kClicked = 0, kSelChange = 1, kEditChange = 0x300 };
    void onCommand(int id, std::function<void()> handler, int notify = kClicked);
    void onMessage(int number, std::function<long()> handler);

    // Posted: queued to the UI thread (from any thread), handled in queue order
    // unless the window has gone by then.
    void postMessage(int number);
    // Sent from another thread: runs the handler on the UI thread and waits for
    // its result; 0 when the window has gone.
    static long sendMessage(const WindowRef<Dialog>& window, int number);
    // Runs the handler of a message now, on the UI thread.
    long deliverMessage(int number);

    // A reference that other threads may hold (see ui_thread.h).
    template <class T = Dialog>
    WindowRef<T> ref() { return WindowRef<T>(static_cast<T*>(this), lifeline_); }

    // Timers by numeric ID: starting a running timer restarts it; stopping from
    // inside the handler is safe. Under a VirtualClock they run on virtual time.
    void setTimer(int id, int intervalMs);
    void killTimer(int id);
    bool timerActive(int id) const;
    int timerInterval(int id) const;

    // Modal run: only endDialog()/close ends it, not hiding.
    int runModal();
    void endDialog(int result);
    bool inModalRun() const { return loop_ != nullptr; }

    // Called while the window is created, before its controls exist (the skin).
    using CreationHook = std::function<void(QWidget* window, int dialogId)>;
    static void setCreationHook(CreationHook hook);

    // Fires timer `id` now (used by the virtual clock and the real timers).
    void fireTimer(int id);

protected:
    // Every key-down for the window or one of its controls passes here first;
    // return true to swallow it. The default swallows nothing.
    virtual bool preTranslateKey(QKeyEvent* event);
    // Enter, Return or Esc: the keys a window swallows so that they neither
    // close it nor press a button.
    static bool isEnterOrEscape(const QKeyEvent* event);
    virtual void onTimer(int id);

    bool event(QEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    void closeEvent(QCloseEvent* e) override;
    void timerEvent(QTimerEvent* e) override;

private:
    QWidget* createControl(const ControlTemplate& c);
    void watch(QWidget* w);

    Lifeline lifeline_;
    int dialogId_;
    BaseUnits units_;
    std::map<int, QPointer<QWidget>> controls_;
    std::map<std::pair<int, int>, std::function<void()>> commands_;
    std::map<int, std::function<long()>> messages_;
    struct Timer {
        int interval = 0;
        int qtId = 0; // real timer; 0 under the virtual clock
    };
    std::map<int, Timer> timers_;
    QHash<int, int> qtToId_;
    QEventLoop* loop_ = nullptr;
    int result_ = 0;
};

} // namespace velkor::ui
