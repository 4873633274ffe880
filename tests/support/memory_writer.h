#pragma once
// A writer that keeps carved files in memory, for fast carving tests and the dispatch fuzzer:
// the same naming per extension as the file writer, no file system.

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "output/recovered_writer.h"

namespace kestrel::testing {

class MemoryWriter : public RecoveredWriter {
 public:
  struct File {
    std::string name;
    std::vector<uint8_t> bytes;
  };

  explicit MemoryWriter(RunContext& run) : RecoveredWriter(run, "/memory/") {}

  bool CreateNumbered(const std::string& extension) override {
    open_ = true;
    failed_ = false;
    extension_ = extension;
    bytes_.clear();
    return true;
  }
  bool is_open() const override { return open_; }
  uint64_t length() const override { return bytes_.size(); }
  bool Write(const uint8_t* data, size_t length) override {
    if (!open_) return false;
    bytes_.insert(bytes_.end(), data, data + length);
    return true;
  }
  bool Keep(uint64_t cut, const std::string& extension, uint64_t listed_size) override {
    if (!open_) return false;
    open_ = false;
    if (cut < bytes_.size()) bytes_.resize(cut);
    const std::string& final_extension = extension.empty() ? extension_ : extension;
    const uint64_t number = ++numbers_[final_extension];
    char digits[16];
    std::snprintf(digits, sizeof digits, "%05llu", static_cast<unsigned long long>(number));
    kept_.push_back({"KES" + std::string(digits) + "." + final_extension, std::move(bytes_)});
    run().AddRecoveredFile({kept_.back().name,
                            listed_size == kNoCut ? kept_.back().bytes.size() : listed_size, true,
                            std::nullopt});
    run().CountRecovered();
    bytes_.clear();
    return true;
  }
  void CutOpen(uint64_t length) override {
    if (length < bytes_.size()) bytes_.resize(length);
  }
  void SetAside() override {
    aside_ = {open_, extension_, std::move(bytes_)};
    open_ = false;
    bytes_.clear();
  }
  void TakeBack() override {
    open_ = aside_.open;
    extension_ = aside_.extension;
    bytes_ = std::move(aside_.bytes);
    aside_ = {};
  }
  void Discard() override {
    open_ = false;
    bytes_.clear();
  }

  // The kept files in the order they were kept.
  const std::vector<File>& kept() const { return kept_; }

 private:
  struct Aside {
    bool open = false;
    std::string extension;
    std::vector<uint8_t> bytes;
  };
  Aside aside_;
  bool open_ = false;
  std::string extension_;
  std::vector<uint8_t> bytes_;
  std::map<std::string, uint64_t> numbers_;
  std::vector<File> kept_;
};

}  // namespace kestrel::testing
