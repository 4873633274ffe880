#pragma once
// A RunUi that shows nothing and answers every question with a fixed choice: for runs without
// anyone watching (benchmarks, fuzzing).

#include "run/run_ui.h"

namespace kestrel {

class SilentRunUi : public RunUi {
 public:
  void SetFieldText(ProgressField, const std::string&) override {}
  void SetBarRange(uint32_t, uint32_t) override {}
  void SetBarPosition(uint32_t) override {}
  void StepBar() override {}
  MessageAnswer ShowMessage(int, MessageIcon, std::string_view, MessageButtons) override {
    return MessageAnswer::kOk;
  }
  ReadErrorChoice AskReadError(std::string_view) override { return ReadErrorChoice::kIgnoreAll; }
  void AddResultRow(const ResultRow&) override { ++rows; }

  int rows = 0;
};

}  // namespace kestrel
