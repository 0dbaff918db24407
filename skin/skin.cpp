#include "skin/skin.h"

#include "platform/ui/dialog.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QEvent>
#include <QFile>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QStandardPaths>
#include <QWidget>

#include <vector>

namespace velkor::skin {

namespace {

bool g_started = false;

// Texts the skin paints on a window's background, in dialog units.
struct Decoration {
    int dialogId;
    int x, y, w, h;
    const char* text; // UTF-8
    bool banner;      // large title text
};

const std::vector<Decoration>& decorations()
{
    static const std::vector<Decoration> d = {
        {102, 0, 14, 254, 28, "Velkor 网络电话", true},
        {102, 30, 74, 30, 10, "帐 号:", false},
        {102, 30, 94, 30, 10, "密 码:", false},
        {131, 0, 8, 200, 22, "Velkor 网络电话", true},
        {131, 14, 65, 38, 8, "帐号:", false},
        {131, 108, 65, 38, 8, "余额:", false},
    };
    return d;
}

// Paints the window background: a header band and the decorations of its dialog.
class Painter : public QObject {
public:
    Painter(QWidget* w, int dialogId) : QObject(w), dialogId_(dialogId) {}

protected:
    bool eventFilter(QObject* o, QEvent* e) override
    {
        if (e->type() != QEvent::Paint || !g_started)
            return false;
        auto* w = static_cast<ui::Dialog*>(o);
        QPainter p(w);
        p.setRenderHint(QPainter::Antialiasing);
        const QRect all = w->rect();
        QLinearGradient bg(0, 0, 0, all.height());
        bg.setColorAt(0, QColor(0xEE, 0xF4, 0xFB));
        bg.setColorAt(1, QColor(0xD5, 0xE3, 0xF3));
        p.fillRect(all, bg);
        for (const auto& d : decorations()) {
            if (d.dialogId != dialogId_)
                continue;
            const QRect r = w->mapDialogRect(d.x, d.y, d.w, d.h);
            if (d.banner) {
                QLinearGradient band(0, r.top(), 0, r.bottom());
                band.setColorAt(0, QColor(0x2F, 0x6E, 0xBA));
                band.setColorAt(1, QColor(0x1B, 0x4F, 0x93));
                p.fillRect(QRect(0, r.top(), all.width(), r.height()), band);
                QFont f = w->font();
                f.setPixelSize(r.height() * 3 / 5);
                f.setBold(true);
                p.setFont(f);
                p.setPen(Qt::white);
                p.drawText(r, Qt::AlignCenter, QString::fromUtf8(d.text));
            } else {
                p.setFont(w->font());
                p.setPen(QColor(0x1B, 0x3A, 0x66));
                p.drawText(r, Qt::AlignLeft | Qt::AlignVCenter, QString::fromUtf8(d.text));
            }
        }
        return false; // the window paints nothing of its own over it
    }

private:
    int dialogId_;
};

QString findSkinFile(const QString& name)
{
    if (QFileInfo(name).isAbsolute())
        return QFile::exists(name) ? name : QString();
    QStringList places{QDir::currentPath(), QCoreApplication::applicationDirPath(),
                       QCoreApplication::applicationDirPath() + QStringLiteral("/../share/velkor")};
    for (const auto& dir : places) {
        const QString path = dir + QLatin1Char('/') + name;
        if (QFile::exists(path))
            return path;
    }
    return QStringLiteral(":/skin/") + name;
}

} // namespace

void start() { g_started = true; }

bool started() { return g_started; }

void load(const std::string& fileName, int)
{
    if (!g_started || !qApp)
        return;
    QFile f(findSkinFile(QString::fromStdString(fileName)));
    if (!f.open(QIODevice::ReadOnly))
        return;
    qApp->setStyleSheet(QString::fromUtf8(f.readAll()));
}

void skinWindow(QWidget* window, int dialogId)
{
    if (!g_started)
        return;
    window->setProperty("skin", QStringLiteral("d%1").arg(dialogId));
    if (qobject_cast<ui::Dialog*>(window))
        window->installEventFilter(new Painter(window, dialogId));
}

void stop()
{
    if (!g_started)
        return;
    g_started = false;
    if (qApp)
        qApp->setStyleSheet(QString());
}

} // namespace velkor::skin
