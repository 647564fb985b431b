// The controls of the program's one window, and the process-wide access to
// them that the window's handlers and workers use: GetText, SetText,
// SetPicture and SetPosition act on the host installed with UseControls,
// the real window in the GUI program and an in-memory store in tests.
#pragma once

#include <functional>
#include <memory>

#include "platform/window_spec.h"
#include "text/text.h"

namespace folivex {

// Every control of the main window, in the window's order.
enum class Control : int {
  标签5,           // label: the caption "个" after the page counter
  标签4,           // label: the caption "下载完成：" before the page counter
  下载绝对地址框,  // edit box below the client area: the image base address, never seen
  图片框1,         // picture box without a border that holds the cover box
  封面框,          // picture box inside 图片框1: the book's cover, stretched
  标签3,           // label: the caption "页数："
  页数框,          // edit box: the page count the analysis found
  进度条,          // progress bar: the percentage of pages done
  进度标签,        // label: the number of pages done so far
  透明标签2,       // transparent label: the caption "线程数："
  编辑框_线程数,   // edit box: pages fetched at once, "10" by default
  标签2,           // label: the caption "书名："
  书名框,          // edit box: the book's title
  按钮2,           // button "下载": starts the download
  源代码框,        // multi-line edit box below the client area: the decoded book page, never seen
  主页按钮,        // button "Folivex主页": opens the site's explore page
  书籍地址框,      // edit box: the book page address; a double click pastes and analyses
  标签1,           // label: the caption "书籍页："
};
inline constexpr int kControlCount = static_cast<int>(Control::标签1) + 1;
static_assert(kControlCount <= kMaxControls);

// The in-memory store: the controls of a window spec with their default
// texts, thread-safe, with an optional watcher told of every change.
class MemoryControls final : public ControlHost {
 public:
  enum class Change { Text, Picture, Position };
  using Watcher = std::function<void(Control, Change)>;

  explicit MemoryControls(const WindowSpec& spec);
  ~MemoryControls() override;

  Text GetText(ControlId control) override;
  void SetText(ControlId control, const Text& text) override;
  void SetPicture(ControlId control, const Bytes& image) override;
  void SetPosition(ControlId control, int value) override;

  Bytes Picture(Control control);
  int Position(Control control);
  // The watcher runs on the thread that made the change, after it was made.
  void Watch(Watcher watcher);

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// The controls of the installed host, from any thread.
Text GetText(Control control);
void SetText(Control control, const Text& text);
void SetPicture(Control control, const Bytes& image);
void SetPosition(Control control, int value);

// A message box owned by the installed host's window; ownerless when there
// is no host.
void ShowWindowMessage(const Text& text);

// Installs the host that GetText, SetText, SetPicture and SetPosition act on.
void UseControls(std::shared_ptr<ControlHost> host);
std::shared_ptr<ControlHost> CurrentControls();

}  // namespace folivex
