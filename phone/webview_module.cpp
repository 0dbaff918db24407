// The web engine view, in a module of its own that the client loads when the
// main window first needs it: the web engine's libraries are large, and loading
// them with the program would hold up the login window.
#include <QUrl>
#include <QWebEngineView>

extern "C" {

__attribute__((visibility("default"))) QWidget* velkor_webview_create(QWidget* parent)
{
    return new QWebEngineView(parent);
}

__attribute__((visibility("default"))) void velkor_webview_load(QWidget* view, const char* utf8Url)
{
    static_cast<QWebEngineView*>(view)->load(QUrl(QString::fromUtf8(utf8Url)));
}

} // extern "C"
