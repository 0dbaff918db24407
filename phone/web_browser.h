// The web engine behind the main window's embedded browser.
#pragma once

namespace velkor::phone {

// Makes createBrowser() return web engine views. Call once before the main window opens.
void useWebEngineBrowser();

} // namespace velkor::phone
