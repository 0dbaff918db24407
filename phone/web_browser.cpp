#include "phone/web_browser.h"

#include "phone/browser.h"
#include "platform/gbk.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QOpenGLContext>
#include <QVBoxLayout>

#include <dlfcn.h>

// QtGui's setter of the context that every OpenGL context shares with (the
// getter is QOpenGLContext::globalShareContext()).
Q_GUI_EXPORT void qt_gl_set_global_share_context(QOpenGLContext* context);

namespace velkor::phone {

namespace {

using CreateFn = QWidget* (*)(QWidget*);
using LoadFn = void (*)(QWidget*, const char*);

struct Module {
    CreateFn create = nullptr;
    LoadFn load = nullptr;
};

// Loads the web view module once: beside the program, in its library folder, or
// where the build put it.
const Module& module()
{
    static const Module m = [] {
        Module r;
        // The web engine draws through OpenGL contexts shared with the GUI's.
        // They are set up here, when the browser first opens, rather than
        // before the application object as usual: the GL libraries would
        // otherwise hold up the login window at start-up.
        if (!QOpenGLContext::globalShareContext()) {
            QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
            auto* share = new QOpenGLContext(qApp);
            if (share->create())
                qt_gl_set_global_share_context(share);
        }
        const QString dir = QCoreApplication::applicationDirPath();
        const QStringList places{dir + QStringLiteral("/velkor-webview.so"),
                                 dir + QStringLiteral("/../lib/velkor/velkor-webview.so"),
                                 QStringLiteral(VELKOR_WEBVIEW_BUILD_PATH)};
        for (const QString& path : places) {
            if (!QFileInfo::exists(path))
                continue;
            if (void* h = ::dlopen(path.toLocal8Bit().constData(), RTLD_NOW | RTLD_LOCAL)) {
                r.create = reinterpret_cast<CreateFn>(::dlsym(h, "velkor_webview_create"));
                r.load = reinterpret_cast<LoadFn>(::dlsym(h, "velkor_webview_load"));
                if (r.create && r.load)
                    break;
                r = {};
            }
        }
        return r;
    }();
    return m;
}

class WebBrowser : public CExplorer1 {
public:
    explicit WebBrowser(QWidget* parent) : CExplorer1(parent)
    {
        auto* layout = new QVBoxLayout(this);
        layout->setContentsMargins(0, 0, 0, 0);
        if (module().create) {
            view_ = module().create(this);
            layout->addWidget(view_);
        }
    }
    // A page that cannot load shows the engine's own error page.
    void Navigate(const std::string& url) override
    {
        if (view_)
            module().load(view_, gbk::toUtf8(url).text.c_str());
    }

private:
    QWidget* view_ = nullptr;
};

} // namespace

void useWebEngineBrowser()
{
    setBrowserFactory([](QWidget* parent) { return new WebBrowser(parent); });
}

} // namespace velkor::phone
