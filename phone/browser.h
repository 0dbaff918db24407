// The embedded browser of the main window (control 1032): shows the service's
// advertisement page. Production uses a web engine view; window tests install a
// factory of their own.
#pragma once

#include <QWidget>

#include <functional>
#include <memory>
#include <string>

namespace velkor::phone {

class CExplorer1 : public QWidget {
    Q_OBJECT
public:
    using QWidget::QWidget;
    // Navigates to url (GBK text); the other arguments of the browser control are not used.
    virtual void Navigate(const std::string& url) = 0;
};

using BrowserFactory = std::function<CExplorer1*(QWidget* parent)>;
// The factory the main window uses; without one it shows a blank panel.
void setBrowserFactory(BrowserFactory factory);
CExplorer1* createBrowser(QWidget* parent);

} // namespace velkor::phone
