// A test fixture: the main window's controls in memory, the program folder
// in a scratch folder, and every message the program shows collected
// instead of shown. Everything is put back afterwards.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "app/save_folder.h"
#include "app/main_window.h"
#include "platform/services.h"
#include "support/scratch_folder.h"

namespace folivex {

class WindowInMemoryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    controls_ = std::make_shared<MemoryControls>(MainWindowSpec());
    UseControls(controls_);
    SetProgramFolder(folder_.text());
    SetMessageHook([this](const Text& text, const Text&) { messages_.push_back(text); });
  }
  void TearDown() override {
    SetMessageHook(nullptr);
    SetClipboardOverride(std::nullopt);
    SetProgramFolder(Text());
    UseControls(nullptr);
    ReleaseSaveFolder();
  }

  ScratchFolder folder_;
  std::shared_ptr<MemoryControls> controls_;
  std::vector<Text> messages_;
};

}  // namespace folivex
