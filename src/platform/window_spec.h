// How a window is described: its controls with their places, texts and
// looks, the events it answers, and the interface through which its
// controls are read and written from any thread. The program names its own
// controls; a window built from a description knows them by number.
#pragma once

#include <compare>
#include <cstdint>
#include <optional>
#include <type_traits>
#include <vector>

#include "text/text.h"

namespace folivex {

// A control's number in its window's description, 0 up to
// kMaxControls - 1. The program's own enumeration of its controls converts
// to it, so a description can be written with the program's names.
struct ControlId {
  int value = 0;
  constexpr ControlId() = default;
  constexpr ControlId(int number) : value(number) {}
  template <typename Enum>
    requires std::is_enum_v<Enum>
  constexpr ControlId(Enum control) : value(static_cast<int>(control)) {}
  auto operator<=>(const ControlId&) const = default;
};
inline constexpr int kMaxControls = 64;

enum class ControlKind { Label, TransparentLabel, Edit, Picture, ProgressBar, Button };
enum class Border { None, Single, Sunken, ThinSunken };
enum class Align { Left, Centre };

struct Rgb {
  std::uint8_t r = 255, g = 255, b = 255;
};

// One row of a window's control table. Places are in pixels, in the client
// area of the parent (the window, or `parent` when it is set).
struct ControlSpec {
  ControlId id;
  ControlKind kind;
  int left, top, width, height;
  Text default_text;  // code page 936
  Border border = Border::None;
  Align align = Align::Left;
  bool multi_line = false;   // edit: Enter makes a new line, vertical scroll bar
  std::optional<Rgb> background;  // edit boxes: their fill colour
  std::optional<ControlId> parent;  // a picture box inside another
  bool stretch = false;           // picture: stretch the image to the box
};

enum class Event { Click, DoubleClick };

struct EventBinding {
  ControlId control;
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
  virtual Text GetText(ControlId control) = 0;
  virtual void SetText(ControlId control, const Text& text) = 0;
  // Empty or unrecognised bytes leave the picture box empty.
  virtual void SetPicture(ControlId control, const Bytes& image) = 0;
  // The bar shows the value clamped to 0..100.
  virtual void SetPosition(ControlId control, int value) = 0;
  // A message box for the calling (GUI) thread owned by the host's window:
  // while it is open the window takes no input, so nothing can start behind
  // it. A host without a window shows an ownerless one (ShowMessage).
  virtual void ShowOwnedMessage(const Text& text);
};

}  // namespace folivex
