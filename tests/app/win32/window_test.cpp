// The main window as the system holds it: made from MainWindowSpec, read
// back through the window's own facts, never through the WindowSpec.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/main_window.h"
#include "download/pumping_delay.h"
#include "platform/codepage.h"
#include "platform/services.h"
#include "platform/window.h"
#include "support/jpeg_maker.h"

namespace folivex {
namespace {

// Code page 936 bytes for a UTF-8 literal.
Text Gbk(const char* utf8) { return Utf8ToGbkText(utf8); }

bool Same(Rgb a, Rgb b) { return a.r == b.r && a.g == b.g && a.b == b.b; }

// Handles this thread's window messages until `done` holds: a worker's
// calls reach the window only while the GUI thread serves it.
template <class Done>
void PumpUntil(Done done) {
  for (int i = 0; i < 20000 && !done(); ++i) {
    ProcessEvents();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

class WindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    window_ = AppWindow::Create(MainWindowSpec());
    ASSERT_NE(window_, nullptr);
  }
  void TearDown() override {
    if (!window_) return;
    window_->Close();
    // Closing the only window posts the quit message: the loop ends with 0.
    EXPECT_EQ(RunMessageLoop(window_.get()), 0);
  }
  ControlFacts Facts(Control control) {
    const std::optional<ControlFacts> facts = window_->Facts(control);
    EXPECT_TRUE(facts.has_value());
    return facts.value_or(ControlFacts{});
  }
  std::shared_ptr<AppWindow> window_;
};

TEST_F(WindowTest, OpensCentredWithFixedFrameAndTitle) {
  const WindowFacts facts = window_->Facts();
  EXPECT_EQ(facts.title, u"Folivex 图书杂志下载@By：1.01");
  EXPECT_EQ(facts.width, 641);
  EXPECT_EQ(facts.height, 213);
  EXPECT_EQ(facts.left, (facts.screen_width - 641) / 2);
  EXPECT_EQ(facts.top, (facts.screen_height - 213) / 2);
  EXPECT_TRUE(facts.caption);
  EXPECT_TRUE(facts.system_menu);
  EXPECT_TRUE(facts.minimise_box);
  EXPECT_FALSE(facts.maximise_box);
  EXPECT_FALSE(facts.resizable);
  // The storage boxes start at 240 and 288: below what the window shows.
  EXPECT_GT(facts.client_height, 0);
  EXPECT_LE(facts.client_height, 240);
}

TEST_F(WindowTest, EveryControlHasItsClassPlaceTextAndBorder) {
  struct Case {
    const char* name;
    Control control;
    const char* class_name;
    int left, top, width, height;
    const char16_t* text;
    Border border;
    bool tab_stop;
  } cases[] = {
      {"标签5", Control::标签5, "Static", 613, 64, 16, 24, u"个", Border::None, false},
      {"标签4", Control::标签4, "Static", 520, 64, 56, 24, u"下载完成：", Border::None, false},
      {"下载绝对地址框", Control::下载绝对地址框, "Edit", 192, 288, 440, 40, u"", Border::Sunken, true},
      {"图片框1", Control::图片框1, "FolivexPictureBox", 16, 8, 128, 168, u"", Border::None, false},
      {"封面框", Control::封面框, "FolivexPictureBox", 0, 0, 116, 160, u"", Border::Single, false},
      {"标签3", Control::标签3, "Static", 458, 58, 30, 32, u"页数：", Border::None, false},
      {"页数框", Control::页数框, "Edit", 493, 59, 27, 32, u"", Border::Sunken, true},
      {"进度条", Control::进度条, "msctls_progress32", 222, 59, 234, 32, u"", Border::ThinSunken,
       false},
      {"进度标签", Control::进度标签, "Static", 576, 60, 32, 28, u"", Border::None, false},
      {"透明标签2", Control::透明标签2, "Static", 148, 61, 48, 24, u"线程数：", Border::None, false},
      {"编辑框_线程数", Control::编辑框_线程数, "Edit", 193, 61, 24, 24, u"10", Border::Single, true},
      {"标签2", Control::标签2, "Static", 392, 3, 40, 40, u"书名：", Border::None, false},
      {"书名框", Control::书名框, "Edit", 432, 7, 192, 32, u"", Border::Single, true},
      {"按钮2", Control::按钮2, "Button", 528, 105, 80, 47, u"下载", Border::None, true},
      {"源代码框", Control::源代码框, "Edit", 16, 240, 360, 480, u"", Border::Sunken, true},
      {"主页按钮", Control::主页按钮, "Button", 184, 104, 80, 48, u"Folivex主页", Border::None, true},
      {"书籍地址框", Control::书籍地址框, "Edit", 192, 8, 200, 32,
       u"http://www.folivex.com/38907795.html", Border::Sunken, true},
      {"标签1", Control::标签1, "Static", 144, 8, 48, 32, u"书籍页：", Border::None, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const ControlFacts facts = Facts(c.control);
    EXPECT_EQ(facts.class_name, c.class_name);
    EXPECT_EQ(facts.left, c.left);
    EXPECT_EQ(facts.top, c.top);
    EXPECT_EQ(facts.width, c.width);
    EXPECT_EQ(facts.height, c.height);
    EXPECT_EQ(facts.text, c.text);
    EXPECT_EQ(facts.border, c.border);
    EXPECT_LE(facts.border_count, 1);
    EXPECT_EQ(facts.tab_stop, c.tab_stop);
    EXPECT_TRUE(facts.visible);
    EXPECT_TRUE(facts.enabled);
    EXPECT_TRUE(facts.gui_font);
    EXPECT_EQ(facts.parent.has_value(), c.control == Control::封面框);
  }
  EXPECT_EQ(Facts(Control::封面框).parent, Control::图片框1);
}

TEST_F(WindowTest, EditBoxesAreAlignedColouredAndUnlimited) {
  constexpr Rgb kWhite{255, 255, 255};
  constexpr Rgb kGrey{236, 236, 236};
  struct Case {
    const char* name;
    Control control;
    Align align;
    bool multi_line;
    Rgb background;
  } cases[] = {
      {"下载绝对地址框", Control::下载绝对地址框, Align::Left, false, kWhite},
      {"页数框", Control::页数框, Align::Centre, false, kGrey},
      {"编辑框_线程数", Control::编辑框_线程数, Align::Centre, false, kWhite},
      {"书名框", Control::书名框, Align::Centre, false, kGrey},
      {"源代码框", Control::源代码框, Align::Left, true, kWhite},
      {"书籍地址框", Control::书籍地址框, Align::Centre, false, kWhite},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const ControlFacts facts = Facts(c.control);
    EXPECT_EQ(facts.align, c.align);
    EXPECT_EQ(facts.multi_line, c.multi_line);
    EXPECT_EQ(facts.want_return, c.multi_line);
    EXPECT_EQ(facts.vertical_scroll_bar, c.multi_line);
    // A single-line box scrolls sideways instead of refusing long text.
    if (!c.multi_line) {
      EXPECT_TRUE(facts.scrolls_horizontally);
    }
    EXPECT_FALSE(facts.read_only);
    EXPECT_FALSE(facts.hides_input);
    EXPECT_GE(facts.text_limit, 0x7FFFFFFEu);
    ASSERT_TRUE(facts.background.has_value());
    EXPECT_TRUE(Same(*facts.background, c.background));
    EXPECT_TRUE(Same(facts.text_colour, Rgb{0, 0, 0}));
  }
}

TEST_F(WindowTest, OnlyTheTransparentLabelLetsTheWindowShowThrough) {
  struct Case {
    const char* name;
    Control control;
    bool transparent;
  } cases[] = {
      {"标签5", Control::标签5, false},       {"标签4", Control::标签4, false},
      {"标签3", Control::标签3, false},       {"进度标签", Control::进度标签, false},
      {"透明标签2", Control::透明标签2, true}, {"标签2", Control::标签2, false},
      {"标签1", Control::标签1, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const ControlFacts facts = Facts(c.control);
    EXPECT_EQ(facts.transparent, c.transparent);
    EXPECT_EQ(facts.background.has_value(), !c.transparent);
    EXPECT_TRUE(Same(facts.text_colour, Rgb{0, 0, 0}));
  }
}

TEST_F(WindowTest, ProgressBarIsBlocksFrom0To100AndClamps) {
  const ControlFacts facts = Facts(Control::进度条);
  EXPECT_FALSE(facts.smooth);
  EXPECT_FALSE(facts.vertical);
  EXPECT_EQ(facts.range_low, 0);
  EXPECT_EQ(facts.range_high, 100);
  EXPECT_EQ(facts.position, 0);

  struct Case {
    const char* name;
    int written;
    int shown;
  } cases[] = {
      {"inside", 37, 37}, {"above the range", 150, 100}, {"below the range", -5, 0},
      {"top", 100, 100},  {"bottom", 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    window_->SetPosition(Control::进度条, c.written);
    EXPECT_EQ(Facts(Control::进度条).position, c.shown);
  }
}

TEST_F(WindowTest, StorageBoxesGiveBackLongTextsWhole) {
  // Over the edit control's default limit of 30000 characters, with
  // Chinese, LF and CR LF line ends and tabs, as a decoded page has them.
  Text page;
  for (int line = 0; line < 4000; ++line) {
    page += ConcatText("<p class=\"x\">\t", Gbk("第"), IntToText(line), Gbk("页 图书杂志"), "</p>",
                       line % 3 == 0 ? "\r\n" : "\n");
  }
  Text address = "http://h/";
  while (address.size() < 70000) address += "abcdefghij/";

  struct Case {
    const char* name;
    Control control;
    Text text;
  } cases[] = {
      {"源代码框, multi-line page", Control::源代码框, page},
      {"下载绝对地址框, long address", Control::下载绝对地址框, address},
      {"书名框, Chinese title", Control::书名框, Gbk("春天的故事")},
      {"页数框, any text", Control::页数框, "abc"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    window_->SetText(c.control, c.text);
    EXPECT_EQ(window_->GetText(c.control), c.text);
    window_->SetText(c.control, "");
    EXPECT_EQ(window_->GetText(c.control), "");
  }
}

TEST_F(WindowTest, TextsReachTheSystemAsUnicode) {
  // Whatever the system's ANSI code page, the box holds these characters.
  window_->SetText(Control::书名框, Gbk("图书杂志：春"));
  EXPECT_EQ(Facts(Control::书名框).text, u"图书杂志：春");
  window_->SetText(Control::进度标签, "24");
  EXPECT_EQ(Facts(Control::进度标签).text, u"24");
  EXPECT_EQ(window_->GetText(Control::标签4), Gbk("下载完成："));
}

// A picture whose left half is red and right half blue, 16 x 8 unless
// said otherwise.
Bytes RedBlueJpeg(int width = 16, int height = 8) {
  std::vector<std::uint8_t> rgb;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const bool left = x < width / 2;
      rgb.push_back(left ? 255 : 0);
      rgb.push_back(0);
      rgb.push_back(left ? 0 : 255);
    }
  }
  const std::string file = EncodeJpeg(rgb, width, height, 95, false, "");
  return Bytes(file.begin(), file.end());
}

// A 2 x 1 24-bit BMP: green, then green.
Bytes GreenBmp() {
  const std::uint8_t file[] = {
      'B', 'M', 62, 0, 0, 0, 0, 0, 0, 0, 54, 0, 0, 0,  // file header: size 62, pixels at 54
      40, 0, 0, 0, 2, 0, 0, 0, 1, 0, 0, 0, 1, 0, 24, 0, 0, 0, 0, 0, 8, 0, 0, 0,
      0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  // info header, 2 x 1, 24 bits
      0, 255, 0, 0, 255, 0, 0, 0,  // one row of B G R pixels, padded to 4 bytes
  };
  return Bytes(std::begin(file), std::end(file));
}

bool Reddish(std::optional<Rgb> c) { return c && c->r > 190 && c->g < 70 && c->b < 70; }
bool Bluish(std::optional<Rgb> c) { return c && c->b > 190 && c->r < 70 && c->g < 70; }
bool Greenish(std::optional<Rgb> c) { return c && c->g > 190 && c->r < 70 && c->b < 70; }

TEST_F(WindowTest, CoverShowsAPictureStretchedOverTheBoxOrNothing) {
  const ControlFacts box = Facts(Control::封面框);
  const int right = box.client_width - 1, bottom = box.client_height - 1;
  ASSERT_GT(right, 100);
  ASSERT_GT(bottom, 100);

  window_->SetPicture(Control::封面框, RedBlueJpeg());
  EXPECT_TRUE(Facts(Control::封面框).has_picture);
  // The 16 x 8 picture covers the whole box: red reaches the left corners,
  // blue the right ones, proportions not kept.
  EXPECT_TRUE(Reddish(window_->PaintedPixel(Control::封面框, 1, 1)));
  EXPECT_TRUE(Reddish(window_->PaintedPixel(Control::封面框, 1, bottom)));
  EXPECT_TRUE(Bluish(window_->PaintedPixel(Control::封面框, right, 1)));
  EXPECT_TRUE(Bluish(window_->PaintedPixel(Control::封面框, right, bottom)));

  window_->SetPicture(Control::封面框, GreenBmp());
  EXPECT_TRUE(Facts(Control::封面框).has_picture);
  EXPECT_TRUE(Greenish(window_->PaintedPixel(Control::封面框, right / 2, bottom / 2)));

  struct Case {
    const char* name;
    Bytes bytes;
  } empty_cases[] = {
      {"junk", TextToBytes("<html><body>404 Not Found</body></html>")},
      {"empty bytes", Bytes{}},
      {"a JPEG's first bytes only", Bytes{0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10}},
  };
  for (const Case& c : empty_cases) {
    SCOPED_TRACE(c.name);
    window_->SetPicture(Control::封面框, RedBlueJpeg());
    window_->SetPicture(Control::封面框, c.bytes);
    EXPECT_FALSE(Facts(Control::封面框).has_picture);
    EXPECT_FALSE(Reddish(window_->PaintedPixel(Control::封面框, 1, 1)));
  }
}

// The same JPEG declaring another size in its frame header: what a reader
// learns before it decodes anything.
Bytes WithDeclaredSize(Bytes jpeg, int width, int height) {
  for (std::size_t i = 2; i + 9 < jpeg.size(); ++i) {
    if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xC0) {  // baseline frame header
      jpeg[i + 5] = static_cast<std::uint8_t>(height >> 8);
      jpeg[i + 6] = static_cast<std::uint8_t>(height & 0xFF);
      jpeg[i + 7] = static_cast<std::uint8_t>(width >> 8);
      jpeg[i + 8] = static_cast<std::uint8_t>(width & 0xFF);
      break;
    }
  }
  return jpeg;
}

// A large picture is held at about the box's size, not its own; one that
// declares an absurd size is refused before it is decoded.
TEST_F(WindowTest, CoverIsHeldAtTheBoxSizeAndAbsurdSizesAreRefused) {
  const ControlFacts box = Facts(Control::封面框);
  const int right = box.client_width - 1, bottom = box.client_height - 1;

  window_->SetPicture(Control::封面框, RedBlueJpeg(1600, 1200));
  const ControlFacts shown = Facts(Control::封面框);
  ASSERT_TRUE(shown.has_picture);
  EXPECT_LE(shown.picture_width, box.client_width);
  EXPECT_LE(shown.picture_height, box.client_height);
  EXPECT_TRUE(Reddish(window_->PaintedPixel(Control::封面框, 1, 1)));
  EXPECT_TRUE(Bluish(window_->PaintedPixel(Control::封面框, right, bottom)));

  // A small picture keeps its own size; the box stretches it.
  window_->SetPicture(Control::封面框, RedBlueJpeg());
  EXPECT_EQ(Facts(Control::封面框).picture_width, 16);
  EXPECT_EQ(Facts(Control::封面框).picture_height, 8);

  // Each would take gigabytes decoded whole.
  const Bytes gif_header = {'G', 'I', 'F', '8', '9', 'a', 0xD8, 0x59, 0xD8, 0x59, 0, 0, 0,
                            ',', 0, 0, 0, 0, 0xD8, 0x59, 0xD8, 0x59, 0, 2, 2, 0x4C, 1, 0, ';'};
  struct Case {
    const char* name;
    Bytes bytes;
  } absurd[] = {
      {.name = "JPEG of 23000 x 23000", .bytes = WithDeclaredSize(RedBlueJpeg(), 23000, 23000)},
      {.name = "JPEG of 60000 x 9000", .bytes = WithDeclaredSize(RedBlueJpeg(), 60000, 9000)},
      {.name = "GIF of 23000 x 23000", .bytes = gif_header},
  };
  for (const Case& c : absurd) {
    SCOPED_TRACE(c.name);
    window_->SetPicture(Control::封面框, RedBlueJpeg());
    window_->SetPicture(Control::封面框, c.bytes);
    EXPECT_FALSE(Facts(Control::封面框).has_picture);
  }
}

TEST_F(WindowTest, WorkerThreadCallsReachTheWindowInOrder) {
  std::atomic<bool> done{false};
  std::atomic<int> mismatches{0};
  std::thread worker([&] {
    for (int page = 1; page <= 50; ++page) {
      window_->SetText(Control::进度标签, IntToText(page));
      window_->SetPosition(Control::进度条, page * 2);
      if (window_->GetText(Control::进度标签) != IntToText(page)) ++mismatches;
    }
    window_->SetText(Control::书名框, Gbk("下载完成！"));
    done = true;
  });
  PumpUntil([&] { return done.load(); });
  worker.join();
  EXPECT_EQ(mismatches.load(), 0);
  EXPECT_EQ(Facts(Control::进度标签).text, u"50");
  EXPECT_EQ(Facts(Control::进度条).position, 100);
  EXPECT_EQ(Facts(Control::书名框).text, u"下载完成！");
}

TEST_F(WindowTest, InstalledWindowServesTheControlFunctions) {
  UseControls(window_);
  std::atomic<bool> done{false};
  Text read_back;
  std::thread worker([&] {
    SetText(Control::页数框, "24");
    read_back = GetText(Control::书籍地址框);
    done = true;
  });
  PumpUntil([&] { return done.load(); });
  worker.join();
  UseControls(nullptr);
  EXPECT_EQ(Facts(Control::页数框).text, u"24");
  EXPECT_EQ(read_back, "http://www.folivex.com/38907795.html");
}

// A wait of 3 s on the GUI thread: a worker's calls on the window must keep
// being answered all through it, not all at once when it ends.
TEST_F(WindowTest, PumpingDelayServesTheWindowThroughoutAThreeSecondWait) {
  using Clock = std::chrono::steady_clock;
  std::atomic<bool> stop{false}, done{false};
  std::vector<Clock::time_point> answered;  // the worker's until it is joined
  const Clock::time_point begin = Clock::now();
  std::thread worker([&] {
    for (int call = 0; !stop; ++call) {
      window_->SetText(Control::进度标签, IntToText(call));
      answered.push_back(Clock::now());
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    done = true;
  });
  EXPECT_TRUE(PumpingDelay(3, 1));
  const Clock::time_point end = Clock::now();
  stop = true;
  // The worker's last call may wait for the GUI thread: serve it.
  PumpUntil([&] { return done.load(); });
  worker.join();

  EXPECT_GE(end - begin, std::chrono::milliseconds(2900));
  // Calls answered in each second of the wait.
  int seconds[3] = {0, 0, 0};
  for (const Clock::time_point at : answered) {
    const auto offset = std::chrono::duration_cast<std::chrono::milliseconds>(at - begin).count();
    if (offset >= 0 && offset < 3000 && at < end) ++seconds[offset / 1000];
  }
  for (int second = 0; second < 3; ++second) {
    EXPECT_GT(seconds[second], 2) << "second " << second + 1 << " of the wait";
  }
}

// Handling the waiting messages must not take the quit message away from
// the message loop. On a thread of its own: a swallowed quit message would
// leave its loop waiting for ever.
TEST(WindowEvents, ProcessEventsLeavesTheQuitMessageQueued) {
  auto result = std::make_shared<std::promise<int>>();
  std::future<int> loop_ended = result->get_future();
  std::thread([result] {
    auto window = AppWindow::Create(MainWindowSpec());
    if (!window) {
      result->set_value(-1);
      return;
    }
    window->Close();  // the only window: the quit message is posted
    ProcessEvents();
    ProcessEvents();
    result->set_value(RunMessageLoop(window.get()));
  }).detach();
  ASSERT_EQ(loop_ended.wait_for(std::chrono::seconds(20)), std::future_status::ready)
      << "the message loop still waits: ProcessEvents took the quit message";
  EXPECT_EQ(loop_ended.get(), 0);
}

std::atomic<int> g_download_clicks{0};
std::atomic<int> g_address_double_clicks{0};
void CountDownloadClick() { ++g_download_clicks; }
void CountAddressDoubleClick() { ++g_address_double_clicks; }

TEST(WindowEvents, ClicksAndDoubleClicksRunTheBoundHandlerOnly) {
  WindowSpec spec = MainWindowSpec();
  spec.events = {
      {Control::按钮2, Event::Click, &CountDownloadClick},
      {Control::书籍地址框, Event::DoubleClick, &CountAddressDoubleClick},
  };
  auto window = AppWindow::Create(spec);
  ASSERT_NE(window, nullptr);
  g_download_clicks = 0;
  g_address_double_clicks = 0;

  struct Case {
    const char* name;
    void (AppWindow::*input)(ControlId);
    Control control;
    int download_clicks, address_double_clicks;
  } cases[] = {
      {"click 按钮2", &AppWindow::Click, Control::按钮2, 1, 0},
      {"click 按钮2 again", &AppWindow::Click, Control::按钮2, 2, 0},
      {"double-click 书籍地址框", &AppWindow::DoubleClick, Control::书籍地址框, 2, 1},
      {"double-click 书名框: not bound", &AppWindow::DoubleClick, Control::书名框, 2, 1},
      {"click 主页按钮: not bound here", &AppWindow::Click, Control::主页按钮, 2, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ((*window).*c.input)(c.control);
    EXPECT_EQ(g_download_clicks.load(), c.download_clicks);
    EXPECT_EQ(g_address_double_clicks.load(), c.address_double_clicks);
  }
  window->Close();
  EXPECT_EQ(RunMessageLoop(window.get()), 0);
}

TEST(WindowLifetime, AfterClosingControlCallsDoNothing) {
  auto window = AppWindow::Create(MainWindowSpec());
  ASSERT_NE(window, nullptr);
  window->Close();
  EXPECT_FALSE(window->IsOpen());
  EXPECT_EQ(RunMessageLoop(window.get()), 0);
  // A page worker that outlives the window must neither hang nor crash.
  std::thread worker([&] {
    window->SetText(Control::进度标签, "3");
    window->SetPosition(Control::进度条, 30);
    window->SetPicture(Control::封面框, RedBlueJpeg());
    EXPECT_EQ(window->GetText(Control::书籍地址框), "");
  });
  worker.join();
}

}  // namespace
}  // namespace folivex
