#include "phone/web_browser.h"

#include "phone/browser.h"
#include "platform/ui/text.h"

#include <QUrl>
#include <QVBoxLayout>
#include <QWebEngineView>

namespace velkor::phone {

namespace {

class WebBrowser : public CExplorer1 {
public:
    explicit WebBrowser(QWidget* parent) : CExplorer1(parent), view_(new QWebEngineView(this))
    {
        auto* layout = new QVBoxLayout(this);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->addWidget(view_);
    }
    // A page that cannot load shows the engine's own error page.
    void Navigate(const std::string& url) override { view_->load(QUrl(ui::toQ(url))); }

private:
    QWebEngineView* view_;
};

} // namespace

void useWebEngineBrowser()
{
    setBrowserFactory([](QWidget* parent) { return new WebBrowser(parent); });
}

} // namespace velkor::phone
