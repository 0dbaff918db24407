#include "phone/web_browser.h"

#include "phone/browser.h"
#include "platform/gbk.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QVBoxLayout>

#include <dlfcn.h>

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
