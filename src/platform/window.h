// The real top-level window of the GUI program, built from a WindowSpec,
// and the GUI thread's message loop. Only the Windows build has it.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>

#include "platform/window_spec.h"

namespace folivex {

// What a control of the real window is, read back from the system rather
// than from the WindowSpec it was made from: tests and screenshots check it.
struct ControlFacts {
  std::string class_name;   // the window class, e.g. "Edit"
  std::optional<ControlId> parent;  // another control holding it
  int left = 0, top = 0, width = 0, height = 0;  // in the parent's client area
  int client_width = 0, client_height = 0;
  std::u16string text;      // what the system holds, in UTF-16
  bool visible = false;
  bool enabled = false;
  bool tab_stop = false;
  bool gui_font = false;    // uses the system's default GUI font
  Border border = Border::None;
  int border_count = 0;     // border styles set at once; 1 at most
  // Edit boxes.
  Align align = Align::Left;
  bool multi_line = false;
  bool want_return = false;
  bool vertical_scroll_bar = false;
  bool scrolls_horizontally = false;
  bool read_only = false;
  bool hides_input = false;
  std::size_t text_limit = 0;
  // The colours the window answers for the control's drawing.
  std::optional<Rgb> background;  // empty: none painted (transparent)
  Rgb text_colour{};
  bool transparent = false;
  // Progress bars.
  bool smooth = false;
  bool vertical = false;
  int range_low = 0, range_high = 0, position = 0;
  // Picture boxes.
  bool has_picture = false;
  int picture_width = 0, picture_height = 0;  // of the bitmap the box holds
};

struct WindowFacts {
  std::string class_name;
  std::u16string title;
  int left = 0, top = 0, width = 0, height = 0;  // outer, on the screen
  int client_width = 0, client_height = 0;
  int screen_width = 0, screen_height = 0;
  bool visible = false;
  bool caption = false;
  bool system_menu = false;
  bool minimise_box = false;
  bool maximise_box = false;
  bool resizable = false;
};

// The window and its controls. Its ControlHost methods may be called from
// any thread: each is carried out by the GUI thread (the thread that made
// the window) in the order the calls are made, and the caller waits for it.
// The GUI thread itself never waits for another thread, so that cannot
// deadlock. Once the window is gone the methods do nothing and reads give
// empty texts.
class AppWindow final : public ControlHost {
 public:
  // Creates the window hidden, centred on the screen, with every control
  // and its default text. Empty when the system refuses.
  static std::shared_ptr<AppWindow> Create(const WindowSpec& spec);
  ~AppWindow() override;
  AppWindow(const AppWindow&) = delete;
  AppWindow& operator=(const AppWindow&) = delete;

  // `show_command` as handed to the program's entry (SW_SHOWDEFAULT: 10).
  void Show(int show_command = 10);
  // Destroys the window; the message loop then ends.
  void Close();
  bool IsOpen() const;

  Text GetText(ControlId control) override;
  void SetText(ControlId control, const Text& text) override;
  void SetPicture(ControlId control, const Bytes& image) override;
  void SetPosition(ControlId control, int value) override;
  // Owned by this window (the message hook, when set, still wins).
  void ShowOwnedMessage(const Text& text) override;

  // --- Read back from the system (GUI thread) ---
  WindowFacts Facts() const;
  std::optional<ControlFacts> Facts(ControlId control) const;
  // The colour the control paints at a point of its client area; for
  // picture boxes, drawn afresh off screen.
  std::optional<Rgb> PaintedPixel(ControlId control, int x, int y) const;
  // The system handle of the window (an HWND), for screenshot tools.
  void* NativeHandle() const;

  // Makes the system deliver the input a user's click or double click
  // produces (GUI thread), so the bound handler runs through its real path.
  void Click(ControlId control);
  void DoubleClick(ControlId control);

  struct Impl;
  // Only Create can make the key.
  class Key {
    friend class AppWindow;
    Key() = default;
  };
  AppWindow(Key, std::unique_ptr<Impl> impl);

 private:
  std::unique_ptr<Impl> impl_;
};

// Runs the calling thread's message loop until the quit message; gives its
// exit code. The window's keyboard navigation (Tab between tab stops) is
// handled here.
int RunMessageLoop(AppWindow* window);

// Ends the process at once with the exit code: other threads are stopped
// where they are, nothing of theirs is torn down under them.
[[noreturn]] void EndProcess(int exit_code);

}  // namespace folivex
