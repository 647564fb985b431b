// The handlers of the main window's events. Each runs on the GUI thread
// inside the message loop, one at a time.
#pragma once

namespace folivex {

// 主页按钮 clicked: opens the site's explore page in the default browser.
void OnHomePageClicked();

// 书籍地址框 double-clicked: analyses the book whose address is on the
// clipboard.
void OnBookUrlDoubleClicked();

// 按钮2 clicked: starts saving the analysed book's pages and returns at once.
void OnDownloadClicked();

}  // namespace folivex
