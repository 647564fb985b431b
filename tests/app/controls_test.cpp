// The window's controls kept in memory, and GetText, SetText, SetPicture
// and SetPosition acting on whichever host is installed.
#include "app/controls.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace folivex {
namespace {

// Code page 936 spellings used below.
const Text kBookName = "\xCD\xBC\xCA\xE9";  // 图书

Bytes SmallJpeg() {
  return {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 'J', 'F', 'I', 'F', 0x00, 0x01, 0x01, 0x00,
          0x00, 0x01, 0x00, 0x01, 0x00, 0x00, 0xFF, 0xD9};
}

WindowSpec TestSpec() {
  WindowSpec spec;
  spec.title = "Folivex";
  spec.controls = {
      {Control::编辑框_线程数, ControlKind::Edit, 0, 0, 10, 10, "10"},
      {Control::书名框, ControlKind::Edit, 0, 0, 10, 10, kBookName},
      {Control::页数框, ControlKind::Edit, 0, 0, 10, 10, ""},
      {Control::进度标签, ControlKind::Label, 0, 0, 10, 10, "0"},
      {Control::进度条, ControlKind::ProgressBar, 0, 0, 10, 10, ""},
      {Control::封面框, ControlKind::Picture, 0, 0, 10, 10, ""},
      {Control::源代码框, ControlKind::Edit, 0, 0, 10, 10, ""},
  };
  return spec;
}

// --- MemoryControls ---------------------------------------------------------

TEST(MemoryControls, StartsWithTheDefaultTexts) {
  MemoryControls controls(TestSpec());
  struct Case {
    const char* name;
    Control control;
    Text expected;
  } cases[] = {
      {"thread count", Control::编辑框_线程数, "10"},
      {"Chinese default", Control::书名框, kBookName},
      {"empty default", Control::页数框, ""},
      {"label", Control::进度标签, "0"},
      {"control not in the window description", Control::主页按钮, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(controls.GetText(c.control), c.expected);
  }
  EXPECT_EQ(controls.Position(Control::进度条), 0);
  EXPECT_TRUE(controls.Picture(Control::封面框).empty());
}

TEST(MemoryControls, KeepsALongMultiLineTextWhole) {
  MemoryControls controls(TestSpec());
  Text page;
  for (int line = 0; line < 20000; ++line) {
    page += "<p>" + std::to_string(line) + kBookName + "</p>\r\n";
  }
  page += "last line without newline";
  controls.SetText(Control::源代码框, page);
  EXPECT_EQ(controls.GetText(Control::源代码框), page);
  // Other controls are untouched.
  EXPECT_EQ(controls.GetText(Control::编辑框_线程数), "10");
}

TEST(MemoryControls, ClampsThePositionToTheBar) {
  MemoryControls controls(TestSpec());
  struct Case {
    const char* name;
    int value;
    int shown;
  } cases[] = {
      {"above", 150, 100}, {"below", -5, 0},     {"inside", 57, 57},  {"top", 100, 100},
      {"bottom", 0, 0},    {"int max", INT_MAX, 100}, {"int min", INT_MIN, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    controls.SetPosition(Control::进度条, c.value);
    EXPECT_EQ(controls.Position(Control::进度条), c.shown);
  }
}

TEST(MemoryControls, KeepsOnlyPicturesThatAreImages) {
  const Bytes png = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A, 0, 0, 0, 13};
  struct Case {
    const char* name;
    Bytes bytes;
    bool kept;
  } cases[] = {
      {"jpeg", SmallJpeg(), true},
      {"png", png, true},
      {"html error page", TextToBytes("<html>404</html>"), false},
      {"empty", {}, false},
      {"jpeg start marker alone", {0xFF, 0xD8}, false},
      {"junk", {0x00, 0x01, 0x02, 0x03, 0x04}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    MemoryControls controls(TestSpec());
    // A picture shown before is replaced either way: junk leaves the box empty.
    controls.SetPicture(Control::封面框, SmallJpeg());
    controls.SetPicture(Control::封面框, c.bytes);
    EXPECT_EQ(controls.Picture(Control::封面框), c.kept ? c.bytes : Bytes{});
  }
}

TEST(MemoryControls, TellsTheWatcherOfEveryChange) {
  MemoryControls controls(TestSpec());
  std::vector<std::pair<Control, MemoryControls::Change>> seen;
  Text text_seen_inside;
  controls.Watch([&](Control control, MemoryControls::Change change) {
    seen.emplace_back(control, change);
    // The watcher may read the store: the change is already made.
    if (change == MemoryControls::Change::Text) text_seen_inside = controls.GetText(control);
  });
  controls.SetText(Control::进度标签, "12");
  controls.SetPosition(Control::进度条, 150);
  controls.SetPicture(Control::封面框, SmallJpeg());
  controls.SetText(Control::进度标签, "12");  // the same text again still counts
  using Change = MemoryControls::Change;
  const std::vector<std::pair<Control, Change>> expected = {
      {Control::进度标签, Change::Text},
      {Control::进度条, Change::Position},
      {Control::封面框, Change::Picture},
      {Control::进度标签, Change::Text},
  };
  EXPECT_EQ(seen, expected);
  EXPECT_EQ(text_seen_inside, "12");

  controls.Watch(nullptr);
  controls.SetText(Control::进度标签, "13");
  EXPECT_EQ(seen.size(), expected.size());
}

TEST(MemoryControls, ConcurrentWritersNeverTearAText) {
  MemoryControls controls(TestSpec());
  constexpr int kWriters = 6;
  constexpr int kRounds = 2000;
  // Long texts, so a torn copy would show as a mix of two writers.
  std::vector<Text> values;
  for (int w = 0; w < kWriters; ++w) values.push_back(Text(4096, static_cast<char>('a' + w)));
  std::atomic<int> watched{0};
  controls.Watch([&](Control, MemoryControls::Change) { watched.fetch_add(1); });

  std::atomic<bool> torn{false};
  std::vector<std::thread> threads;
  for (int w = 0; w < kWriters; ++w) {
    threads.emplace_back([&, w] {
      for (int round = 0; round < kRounds; ++round) {
        controls.SetText(Control::源代码框, values[w]);
        controls.SetPosition(Control::进度条, round % 200 - 50);
        const Text read = controls.GetText(Control::源代码框);
        if (std::find(values.begin(), values.end(), read) == values.end()) torn = true;
        const int position = controls.Position(Control::进度条);
        if (position < 0 || position > 100) torn = true;
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_FALSE(torn);
  EXPECT_EQ(watched.load(), kWriters * kRounds * 2);
  const Text last = controls.GetText(Control::源代码框);
  EXPECT_NE(std::find(values.begin(), values.end(), last), values.end());
}

// --- Dispatch ----------------------------------------------------------------

class DispatchTest : public ::testing::Test {
 protected:
  void TearDown() override { UseControls(nullptr); }
};

TEST_F(DispatchTest, WithoutAHostReadsAreEmptyAndWritesDropped) {
  UseControls(nullptr);
  SetText(Control::页数框, "12");
  SetPosition(Control::进度条, 50);
  SetPicture(Control::封面框, SmallJpeg());
  EXPECT_EQ(GetText(Control::页数框), "");
  EXPECT_EQ(CurrentControls(), nullptr);
}

TEST_F(DispatchTest, ActsOnTheInstalledHost) {
  auto first = std::make_shared<MemoryControls>(TestSpec());
  auto second = std::make_shared<MemoryControls>(TestSpec());
  UseControls(first);
  EXPECT_EQ(GetText(Control::编辑框_线程数), "10");
  SetText(Control::页数框, "12");
  SetPosition(Control::进度条, 150);
  SetPicture(Control::封面框, SmallJpeg());
  UseControls(second);
  SetText(Control::页数框, "7");
  EXPECT_EQ(first->GetText(Control::页数框), "12");
  EXPECT_EQ(first->Position(Control::进度条), 100);
  EXPECT_EQ(first->Picture(Control::封面框), SmallJpeg());
  EXPECT_EQ(second->GetText(Control::页数框), "7");
  EXPECT_EQ(GetText(Control::页数框), "7");
}

TEST_F(DispatchTest, HostsCanBeSwappedWhileOtherThreadsWrite) {
  std::atomic<bool> stop{false};
  std::vector<std::thread> writers;
  for (int w = 0; w < 4; ++w) {
    writers.emplace_back([&] {
      while (!stop) {
        SetText(Control::进度标签, "5");
        SetPosition(Control::进度条, 5);
        (void)GetText(Control::进度标签);
      }
    });
  }
  // Each swap releases the previous host while writers may still be in it;
  // each call holds its own reference, so nothing is used after release.
  for (int swap = 0; swap < 500; ++swap) {
    UseControls(swap % 3 == 2 ? nullptr : std::make_shared<MemoryControls>(TestSpec()));
  }
  auto last = std::make_shared<MemoryControls>(TestSpec());
  UseControls(last);
  stop = true;
  for (auto& writer : writers) writer.join();
  SetText(Control::进度标签, "9");
  EXPECT_EQ(last->GetText(Control::进度标签), "9");
}

// --- Files and folders ---------------------------------------------------------

// A fresh folder per test in the system's temporary folder (an ASCII path on
// both systems), removed afterwards.
}  // namespace
}  // namespace folivex
