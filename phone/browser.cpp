#include "phone/browser.h"

namespace velkor::phone {

namespace {

BrowserFactory& factory()
{
    static BrowserFactory f;
    return f;
}

// No web engine: an empty panel that remembers nothing.
class BlankBrowser : public CExplorer1 {
public:
    using CExplorer1::CExplorer1;
    void Navigate(const std::string&) override {}
};

} // namespace

void setBrowserFactory(BrowserFactory f) { factory() = std::move(f); }

CExplorer1* createBrowser(QWidget* parent)
{
    if (factory())
        return factory()(parent);
    return new BlankBrowser(parent);
}

} // namespace velkor::phone
