#include "app/main_window.h"

#include "app/handlers.h"
#include <utility>

#include "platform/codepage.h"
#include "text/text.h"

namespace folivex {

namespace {

// The window's texts are written here as UTF-8 and held in code page 936.
Text Gbk(std::string_view utf8) { return Utf8ToGbkText(utf8); }

constexpr Rgb kWhite{255, 255, 255};
constexpr Rgb kLightGrey{236, 236, 236};

ControlSpec Placed(Control id, ControlKind kind, int left, int top, int width, int height,
                   Text text = {}) {
  ControlSpec control{};
  control.id = id;
  control.kind = kind;
  control.left = left;
  control.top = top;
  control.width = width;
  control.height = height;
  control.default_text = std::move(text);
  return control;
}

ControlSpec Label(Control id, int left, int top, int width, int height, Text text = {}) {
  return Placed(id, ControlKind::Label, left, top, width, height, std::move(text));
}

// A single-line box unless `multi_line`; it scrolls when its text is longer.
ControlSpec Edit(Control id, int left, int top, int width, int height, Text text, Border border,
                 Align align, Rgb background, bool multi_line = false) {
  ControlSpec control = Placed(id, ControlKind::Edit, left, top, width, height, std::move(text));
  control.border = border;
  control.align = align;
  control.background = background;
  control.multi_line = multi_line;
  return control;
}

}  // namespace

// Texts are code page 936 bytes; the characters they stand for are in the
// comment beside each. A hex escape swallows every hex digit after it, so
// a literal that goes on with a digit or a letter a-f starts anew.
WindowSpec MainWindowSpec() {
  WindowSpec spec;
  spec.title = Gbk("Folivex 图书杂志下载@By：1.01");
  // The outer size, frame and title bar included.
  spec.outer_width = 641;
  spec.outer_height = 213;

  const Text book_address = ConcatText("http://", kSiteHost, "/38907795.html");

  // In the window's order, which is also the order of creation.
  ControlSpec holder = Placed(Control::图片框1, ControlKind::Picture, 16, 8, 128, 168);
  ControlSpec cover = Placed(Control::封面框, ControlKind::Picture, 0, 0, 116, 160);
  cover.border = Border::Single;
  cover.parent = Control::图片框1;
  cover.stretch = true;
  // Horizontal, in blocks, range 0 to 100.
  ControlSpec progress = Placed(Control::进度条, ControlKind::ProgressBar, 222, 59, 234, 32);
  progress.border = Border::ThinSunken;
  const ControlSpec transparent = Placed(Control::透明标签2, ControlKind::TransparentLabel, 148, 61,
                                         48, 24, Gbk("线程数："));

  // In the window's order, which is also the order of creation.
  spec.controls = {
      Label(Control::标签5, 613, 64, 16, 24, Gbk("个")),
      Label(Control::标签4, 520, 64, 56, 24, Gbk("下载完成：")),
      // Below the client area: storage for the image base address.
      Edit(Control::下载绝对地址框, 192, 288, 440, 40, "", Border::Sunken, Align::Left, kWhite),
      holder,
      cover,
      Label(Control::标签3, 458, 58, 30, 32, Gbk("页数：")),
      Edit(Control::页数框, 493, 59, 27, 32, "", Border::Sunken, Align::Centre, kLightGrey),
      progress,
      Label(Control::进度标签, 576, 60, 32, 28),
      transparent,
      Edit(Control::编辑框_线程数, 193, 61, 24, 24, "10", Border::Single, Align::Centre, kWhite),
      Label(Control::标签2, 392, 3, 40, 40, Gbk("书名：")),
      Edit(Control::书名框, 432, 7, 192, 32, "", Border::Single, Align::Centre, kLightGrey),
      Placed(Control::按钮2, ControlKind::Button, 528, 105, 80, 47, Gbk("下载")),
      // Below the client area: storage for the decoded book page.
      Edit(Control::源代码框, 16, 240, 360, 480, "", Border::Sunken, Align::Left, kWhite,
           /*multi_line=*/true),
      Placed(Control::主页按钮, ControlKind::Button, 184, 104, 80, 48,
             Gbk("Folivex主页")),
      Edit(Control::书籍地址框, 192, 8, 200, 32, book_address, Border::Sunken, Align::Centre,
           kWhite),
      Label(Control::标签1, 144, 8, 48, 32, Gbk("书籍页：")),
  };

  spec.events = {
      {Control::主页按钮, Event::Click, &OnHomePageClicked},
      {Control::按钮2, Event::Click, &OnDownloadClicked},
      {Control::书籍地址框, Event::DoubleClick, &OnBookUrlDoubleClicked},
  };
  return spec;
}

}  // namespace folivex
