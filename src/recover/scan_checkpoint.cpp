#include "recover/scan_checkpoint.h"

#include <algorithm>
#include <charconv>
#include <filesystem>
#include <sstream>
#include <system_error>
#include <vector>

#include "platform/atomic_file.h"

namespace kestrel {
namespace {

constexpr std::string_view kMagic = "kestrel-scan-checkpoint";
constexpr uint64_t kFingerprintBytes = 64 * 1024;
constexpr size_t kMaxSpans = 1 << 20;
constexpr size_t kMaxExtensions = 4096;
constexpr size_t kMaxResumptions = 1 << 16;

std::string Hex(std::string_view bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  for (const char c : bytes) {
    const auto b = static_cast<unsigned char>(c);
    out += kDigits[b >> 4];
    out += kDigits[b & 15];
  }
  return out;
}

bool Unhex(std::string_view hex, std::string* out) {
  if (hex.size() % 2 != 0) return false;
  out->clear();
  for (size_t i = 0; i < hex.size(); i += 2) {
    unsigned value = 0;
    const auto [end, error] = std::from_chars(hex.data() + i, hex.data() + i + 2, value, 16);
    if (error != std::errc() || end != hex.data() + i + 2) return false;
    *out += static_cast<char>(value);
  }
  return true;
}

std::string TypeBits(const TypeSet& types) {
  std::string bits;
  for (size_t code = 0; code < kFileTypeCount; ++code) bits += types.Has(code) ? '1' : '0';
  return bits;
}

// The words of one line, split at spaces.
std::vector<std::string_view> Words(std::string_view line) {
  std::vector<std::string_view> words;
  for (size_t at = 0; at < line.size();) {
    const size_t end = std::min(line.find(' ', at), line.size());
    if (end > at) words.push_back(line.substr(at, end - at));
    at = end + 1;
  }
  return words;
}

bool Number(std::string_view word, uint64_t* value) {
  const auto [end, error] = std::from_chars(word.data(), word.data() + word.size(), *value);
  return error == std::errc() && end == word.data() + word.size();
}

// Reads the lines of a checkpoint into `checkpoint`; false at the first line that does not fit.
class CheckpointReader {
 public:
  explicit CheckpointReader(ScanCheckpoint* checkpoint) : c_(*checkpoint) {}

  bool Take(const std::vector<std::string_view>& w) {
    if (w.empty()) return true;
    const std::string_view key = w[0];
    uint64_t a = 0, b = 0;
    if (key == "source" && w.size() == 2) return Unhex(w[1], &c_.source_path);
    if (key == "types" && w.size() == 2) return TakeTypes(w[1]);
    if (key == "report" && w.size() == 3 && Number(w[2], &c_.report_bytes)) {
      return Unhex(w[1], &c_.report_name) && IsPlainName(c_.report_name);
    }
    if (key == "resumed" && w.size() == 3 && Number(w[1], &a) && Number(w[2], &b)) {
      if (c_.resumptions.size() == kMaxResumptions || b > INT64_MAX) return false;
      c_.resumptions.push_back({a, static_cast<int64_t>(b)});
      return true;
    }
    if (key == "span" && w.size() == 3 && Number(w[1], &a) && Number(w[2], &b)) {
      if (c_.unexamined.size() == kMaxSpans) return false;
      c_.unexamined.push_back({a, b});
      return true;
    }
    if ((key == "number" || key == "partial-number") && w.size() == 3 && Number(w[2], &b)) {
      std::string extension;
      auto& numbers = key == "number" ? c_.next_numbers : c_.next_not_whole_numbers;
      if (!Unhex(w[1], &extension) || numbers.size() == kMaxExtensions) return false;
      numbers[extension] = b;
      return true;
    }
    if (w.size() != 2 || !Number(w[1], &a)) return false;
    return TakeNumber(key, a);
  }

 private:
  // A file's name in the run folder, never a path out of it.
  static bool IsPlainName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
           name.find('\0') == std::string::npos;
  }

  bool TakeTypes(std::string_view bits) {
    if (bits.size() != kFileTypeCount) return false;
    for (size_t code = 0; code < bits.size(); ++code) {
      if (bits[code] != '0' && bits[code] != '1') return false;
      if (bits[code] == '1') c_.types.Add(code);
    }
    return true;
  }

  bool TakeNumber(std::string_view key, uint64_t value) {
    if (key == "bytes")
      c_.source_bytes = value;
    else if (key == "fingerprint")
      c_.fingerprint = value;
    else if (key == "free-space")
      c_.free_space_only = value != 0;
    else if (key == "keep-partial")
      c_.keep_not_whole = value != 0;
    else if (key == "next-sector")
      c_.next_sector = value;
    else if (key == "done-sectors")
      c_.done_sectors = value;
    else if (key == "recovered")
      c_.recovered = static_cast<uint32_t>(std::min<uint64_t>(value, UINT32_MAX));
    else if (key == "first-pass-done")
      c_.first_pass_done = value != 0;
    else
      return false;
    return true;
  }

  ScanCheckpoint& c_;
};

}  // namespace

std::string FormatCheckpoint(const ScanCheckpoint& c) {
  std::ostringstream out;
  out << kMagic << ' ' << ScanCheckpoint::kVersion << '\n'
      << "source " << Hex(c.source_path) << '\n'
      << "bytes " << c.source_bytes << '\n'
      << "fingerprint " << c.fingerprint << '\n'
      << "types " << TypeBits(c.types) << '\n'
      << "free-space " << (c.free_space_only ? 1 : 0) << '\n'
      << "keep-partial " << (c.keep_not_whole ? 1 : 0) << '\n'
      << "next-sector " << c.next_sector << '\n'
      << "done-sectors " << c.done_sectors << '\n'
      << "recovered " << c.recovered << '\n'
      << "first-pass-done " << (c.first_pass_done ? 1 : 0) << '\n';
  for (const SectorSpan& span : c.unexamined)
    out << "span " << span.first << ' ' << span.count << '\n';
  for (const auto& [extension, next] : c.next_numbers) {
    out << "number " << Hex(extension) << ' ' << next << '\n';
  }
  for (const auto& [extension, next] : c.next_not_whole_numbers) {
    out << "partial-number " << Hex(extension) << ' ' << next << '\n';
  }
  if (!c.report_name.empty())
    out << "report " << Hex(c.report_name) << ' ' << c.report_bytes << '\n';
  for (const RunResumption& resumption : c.resumptions)
    out << "resumed " << resumption.sector << ' ' << resumption.unix_seconds << '\n';
  out << "end\n";
  return out.str();
}

CheckpointStatus ParseCheckpoint(std::string_view text, ScanCheckpoint* checkpoint) {
  *checkpoint = ScanCheckpoint{};
  size_t at = 0;
  bool first = true, ended = false;
  CheckpointReader reader(checkpoint);
  while (at < text.size() && !ended) {
    const size_t end = text.find('\n', at);
    if (end == std::string_view::npos) return CheckpointStatus::kDamaged;  // cut short
    const std::vector<std::string_view> words = Words(text.substr(at, end - at));
    at = end + 1;
    if (first) {
      uint64_t version = 0;
      if (words.size() != 2 || words[0] != kMagic || !Number(words[1], &version)) {
        return CheckpointStatus::kDamaged;
      }
      if (version > ScanCheckpoint::kVersion) return CheckpointStatus::kNewer;
      first = false;
    } else if (words.size() == 1 && words[0] == "end") {
      ended = true;
    } else if (!reader.Take(words)) {
      return CheckpointStatus::kDamaged;
    }
  }
  return ended && at == text.size() ? CheckpointStatus::kOk : CheckpointStatus::kDamaged;
}

uint64_t SourceFingerprint(ByteSource& source) {
  const uint64_t size = source.Size();
  const uint64_t head = std::min(size, kFingerprintBytes);
  const uint64_t tail_at = size > kFingerprintBytes ? size - kFingerprintBytes : 0;
  std::vector<uint8_t> bytes(static_cast<size_t>(head));
  uint64_t hash = 1469598103934665603ull;
  for (const uint64_t from : {uint64_t{0}, tail_at}) {
    std::fill(bytes.begin(), bytes.end(), uint8_t{0});
    source.ReadAt(from, bytes.data(), bytes.size());
    for (const uint8_t b : bytes) hash = (hash ^ b) * 1099511628211ull;
  }
  return hash;
}

std::string FindUnfinishedScan(const std::string& recovery_folder, uint64_t source_bytes,
                               uint64_t fingerprint, const TypeSet& types, bool free_space_only,
                               bool keep_not_whole) {
  std::string newest;
  std::filesystem::file_time_type newest_time;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(recovery_folder, ec)) {
    if (!entry.is_directory(ec) || entry.is_symlink(ec)) continue;
    const std::filesystem::path path = entry.path() / kCheckpointName;
    std::string text;
    ScanCheckpoint checkpoint;
    if (ReadWholeFile(path.string(), kMaxCheckpointBytes, &text) != ReadFileStatus::kOk ||
        ParseCheckpoint(text, &checkpoint) != CheckpointStatus::kOk ||
        !SameScan(checkpoint, source_bytes, fingerprint, types, free_space_only, keep_not_whole)) {
      continue;
    }
    const auto time = std::filesystem::last_write_time(path, ec);
    if (ec) continue;
    if (newest.empty() || time > newest_time) {
      newest = entry.path().string();
      newest_time = time;
    }
  }
  return newest;
}

bool SameScan(const ScanCheckpoint& c, uint64_t source_bytes, uint64_t fingerprint,
              const TypeSet& types, bool free_space_only, bool keep_not_whole) {
  return c.source_bytes == source_bytes && c.fingerprint == fingerprint &&
         TypeBits(c.types) == TypeBits(types) && c.free_space_only == free_space_only &&
         c.keep_not_whole == keep_not_whole;
}

}  // namespace kestrel
