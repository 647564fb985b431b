// The controls of the main window, how a window is described, and the
// interface through which the rest of the program reads and writes them.
// The Windows GUI puts real controls behind that interface; the command
// line and the Linux build put an in-memory store behind it.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "text/text.h"

namespace folivex {

// Every control of the main window, in the window's order.
enum class Control {
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

enum class ControlKind { Label, TransparentLabel, Edit, Picture, ProgressBar, Button };
enum class Border { None, Single, Sunken, ThinSunken };
enum class Align { Left, Centre };

struct Rgb {
  std::uint8_t r = 255, g = 255, b = 255;
};

// One row of a window's control table. Places are in pixels, in the client
// area of the parent (the window, or `parent` when it is set).
struct ControlSpec {
  Control id;
  ControlKind kind;
  int left, top, width, height;
  Text default_text;  // code page 936
  Border border = Border::None;
  Align align = Align::Left;
  bool multi_line = false;   // edit: Enter makes a new line, vertical scroll bar
  std::optional<Rgb> background;  // edit boxes: their fill colour
  std::optional<Control> parent;  // a picture box inside another
  bool stretch = false;           // picture: stretch the image to the box
};

enum class Event { Click, DoubleClick };

struct EventBinding {
  Control control;
  Event event;
  void (*handler)();
};

struct WindowSpec {
  Text title;  // code page 936
  int outer_width = 0, outer_height = 0;
  std::vector<ControlSpec> controls;
  std::vector<EventBinding> events;
};

// Control access, callable from any thread. Writes take effect in the order
// they are made.
class ControlHost {
 public:
  virtual ~ControlHost() = default;
  virtual Text GetText(Control control) = 0;
  virtual void SetText(Control control, const Text& text) = 0;
  // Empty or unrecognised bytes leave the picture box empty.
  virtual void SetPicture(Control control, const Bytes& image) = 0;
  // The bar shows the value clamped to 0..100.
  virtual void SetPosition(Control control, int value) = 0;
  // A message box for the calling (GUI) thread owned by the host's window:
  // while it is open the window takes no input, so nothing can start behind
  // it. A host without a window shows an ownerless one (ShowMessage).
  virtual void ShowOwnedMessage(const Text& text);
};

// The in-memory store: the controls of a window spec with their default
// texts, thread-safe, with an optional watcher told of every change.
class MemoryControls final : public ControlHost {
 public:
  enum class Change { Text, Picture, Position };
  using Watcher = std::function<void(Control, Change)>;

  explicit MemoryControls(const WindowSpec& spec);
  ~MemoryControls() override;

  Text GetText(Control control) override;
  void SetText(Control control, const Text& text) override;
  void SetPicture(Control control, const Bytes& image) override;
  void SetPosition(Control control, int value) override;

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
