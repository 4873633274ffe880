#pragma once
// The signature dispatch over an ordered table of signature rows: the rows' gates and guard marks
// become lookup tables and bit sets when the table is built (at compile time), and each sector
// is tried only against the rows its first look lets through. The product's table is the
// registry (carve/registry.h, dispatched by carve/dispatch.h); tests build tables of their own.

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <utility>

#include "carve/carve_engine.h"
#include "carve/pair_scan.h"
#include "carve/sector_header.h"
#include "carve/signature.h"

namespace kestrel {

enum class DispatchVerdict { kContinue, kStopScan };

namespace signature_tables {

// Sets of rows, one bit per row in table order.
using RowSet = uint64_t;

// A row as the dispatch runs it: its guard marks as bits.
struct DispatchRow {
  Signature test;
  GuardSet guarded_by;
  OnGuard on_guard;
  TypeSet selection;
  const char* extension;
  GuardSet guards;
  bool stop_check;
};

// The guard marks the rows name, in the order first named: mark k is bit k.
struct Marks {
  static constexpr size_t kMax = 63;  // the last bit is kEveryMarkOnly's
  std::array<const GuardMark*, kMax> marks{};
  size_t count = 0;

  constexpr size_t IndexOf(const GuardMark* mark) const {
    size_t k = 0;
    while (k < count && marks[k]->name != mark->name) ++k;
    return k;
  }
  constexpr void Add(const GuardList& list) {
    for (const GuardMark* mark : list) {
      if (IndexOf(mark) < count) continue;
      if (count == kMax) throw "more guard marks than a GuardSet holds";
      marks[count++] = mark;
    }
  }
  constexpr GuardSet Bits(const GuardList& list) const {
    if (list.every()) return ~GuardSet{0};
    GuardSet bits = 0;
    for (const GuardMark* mark : list) bits |= GuardSet{1} << IndexOf(mark);
    return bits;
  }
};

template <size_t N>
constexpr Marks CollectMarks(const std::array<SignatureRow, N>& rows) {
  Marks marks;
  for (const SignatureRow& row : rows) {
    marks.Add(row.guarded_by);
    marks.Add(row.guards);
  }
  return marks;
}

template <size_t N>
constexpr std::array<DispatchRow, N> MakeDispatchRows(const std::array<SignatureRow, N>& rows,
                                                      const Marks& marks) {
  std::array<DispatchRow, N> out{};
  for (size_t i = 0; i < N; ++i) {
    const SignatureRow& row = rows[i];
    out[i] = {row.test,      marks.Bits(row.guarded_by), row.on_guard,  row.selection,
              row.extension, marks.Bits(row.guards),     row.stop_check};
  }
  return out;
}

// Where "go on at the RTF row" lands: the row marked as its target; N when none is.
template <size_t N>
constexpr size_t SkipTarget(const std::array<SignatureRow, N>& rows) {
  for (size_t i = 0; i < N; ++i) {
    if (rows[i].skip_target) return i;
  }
  return N;
}

template <size_t N>
constexpr bool SkipsOnlyForward(const std::array<SignatureRow, N>& rows) {
  for (size_t i = SkipTarget(rows); i < N; ++i) {
    if (rows[i].on_guard == OnGuard::kSkipToRtf) return false;
  }
  return true;
}

template <size_t N>
constexpr size_t CountPairs(const std::array<SignatureRow, N>& rows) {
  size_t count = 0;
  for (size_t i = 0; i < N; ++i) {
    bool seen = false;
    for (size_t j = 0; j < i; ++j) seen = seen || rows[j].gate.pair == rows[i].gate.pair;
    if (!rows[i].gate.pair.empty() && !seen) ++count;
  }
  return count;
}

// The gates of all rows as lookup tables: the rows each byte at offset 0 and 4 lets through,
// the distinct pairs and the rows each lets through, and the rows tried on every sector.
template <size_t Pairs>
struct Gates {
  std::array<RowSet, 256> at0{};
  std::array<RowSet, 256> at4{};
  std::array<BytePair, Pairs> pairs{};
  std::array<RowSet, Pairs> pair_rows{};
  RowSet always = 0;
};

template <size_t Pairs, size_t N>
constexpr Gates<Pairs> MakeGates(const std::array<SignatureRow, N>& rows) {
  Gates<Pairs> gates;
  size_t pair_count = 0;
  for (size_t i = 0; i < N; ++i) {
    const Gate& gate = rows[i].gate;
    const RowSet row = RowSet{1} << i;
    if (gate.leads.empty() && gate.pair.empty()) gates.always |= row;
    for (char lead : gate.leads) {
      (gate.offset == 0 ? gates.at0 : gates.at4)[static_cast<uint8_t>(lead)] |= row;
    }
    if (gate.pair.empty()) continue;
    const BytePair pair{static_cast<uint8_t>(gate.pair[0]), static_cast<uint8_t>(gate.pair[1])};
    size_t k = 0;
    while (k < pair_count &&
           (gates.pairs[k].first != pair.first || gates.pairs[k].second != pair.second)) {
      ++k;
    }
    if (k == pair_count) gates.pairs[pair_count++] = pair;
    gates.pair_rows[k] |= row;
  }
  return gates;
}

}  // namespace signature_tables

template <const auto& kRows>
class SignatureDispatch {
 public:
  using RowSet = signature_tables::RowSet;

  // Starts, continues or ignores: the sector is consumed exactly once.
  static DispatchVerdict Sector(CarveEngine& engine, const SectorInput& in) {
    RowSet rows = RowsTried(in);
    if (rows != 0) {
      const SectorHeader header(in);
      const CarveView view = engine.View(in);
      const RowInput input{header, in, view};
      // Filled in by the row whose header matches (made once: most sectors match no row).
      Start start;
      while (rows != 0) {
        const auto i = static_cast<size_t>(std::countr_zero(rows));
        rows &= rows - 1;
        const signature_tables::DispatchRow& row = kDispatchRows[i];
        const Match match = row.test(input, &start);
        if (match == Match::kNo) continue;
        if (match == Match::kDrop) return DispatchVerdict::kContinue;
        if (match == Match::kSkipToRtf || (engine.open_guards() & row.guarded_by) != 0) {
          if (match == Match::kSkipToRtf || row.on_guard == OnGuard::kSkipToRtf) {
            rows &= ~((RowSet{1} << kSkipTarget) - 1);
          }
          continue;
        }
        // A header that starts a file ends the open one, whether or not its type is selected;
        // one that starts a file of a selected type may start it in the open one's gap.
        if (match == Match::kFinishAndDrop || !engine.selected().Intersects(row.selection)) {
          engine.Finish();
          if (match == Match::kFinishAndDrop) return DispatchVerdict::kContinue;
          continue;
        }
        engine.Interrupt();
        const char* extension = start.extension != nullptr ? start.extension : row.extension;
        const GuardSet guards = row.guards | GuardBit(start.guard);
        if (!engine.Open(extension, guards, std::move(start.format), in)) {
          engine.Finish();  // no file in the gap: the one set aside ends
          if (engine.stopped()) return DispatchVerdict::kStopScan;
          continue;
        }
        return row.stop_check ? StopCheck(engine) : DispatchVerdict::kContinue;
      }
    }
    if (!engine.is_open()) return DispatchVerdict::kContinue;
    engine.Feed(in);
    return StopCheck(engine);
  }

  // The rows whose gate the sector passes.
  static RowSet RowsTried(const SectorInput& in) {
#if defined(__x86_64__) || defined(__i386__)
    static const bool avx2 = __builtin_cpu_supports("avx2");
    return avx2 ? RowsToTryAvx2(in) : RowsToTryWith<16>(in);
#else
    return RowsToTryWith<16>(in);
#endif
  }

  // The rows whose signature test matches the sector, whatever their gates.
  static RowSet RowsMatching(const CarveEngine& engine, const SectorInput& in) {
    const SectorHeader header(in);
    const CarveView view = engine.View(in);
    const RowInput input{header, in, view};
    RowSet rows = 0;
    for (size_t i = 0; i < kRows.size(); ++i) {
      Start start;
      if (kRows[i].test(input, &start) != Match::kNo) rows |= RowSet{1} << i;
    }
    return rows;
  }

 private:
  static_assert(kRows.size() <= 64, "a RowSet holds 64 rows");
  static constexpr signature_tables::Marks kMarks = signature_tables::CollectMarks(kRows);
  static constexpr auto kDispatchRows = signature_tables::MakeDispatchRows(kRows, kMarks);
  static constexpr size_t kSkipTarget = signature_tables::SkipTarget(kRows);
  static_assert(kSkipTarget < kRows.size(), "the table has an RTF row");
  static_assert(signature_tables::SkipsOnlyForward(kRows),
                "a row that goes on at the RTF row must come before it");
  static constexpr auto kGates =
      signature_tables::MakeGates<signature_tables::CountPairs(kRows)>(kRows);

  // The bit of a mark a header adds to its row's; a mark no row names guards nothing.
  static GuardSet GuardBit(const GuardMark* mark) {
    if (mark == nullptr) return kNoGuards;
    const size_t k = kMarks.IndexOf(mark);
    return k < kMarks.count ? GuardSet{1} << k : kNoGuards;
  }

  // Text-searching tests read the header's first SectorHeader::kBytes bytes, so the pairs are
  // looked for there.
  template <size_t Width>
  [[gnu::always_inline]] static inline RowSet RowsToTryWith(const SectorInput& in) {
    const uint8_t* d = in.data;
    RowSet rows = kGates.always | kGates.at0[d[0]] | kGates.at4[d[4]];
    for (uint32_t found = PairsPresent<Width>(d, SectorHeader::kBytes, kGates.pairs); found != 0;
         found &= found - 1) {
      rows |= kGates.pair_rows[static_cast<size_t>(std::countr_zero(found))];
    }
    // Every signature holds a non-zero byte inside the sector: a sector of zeros starts nothing.
    if (rows != 0 && d[0] == 0 && in.count > 0 && std::memcmp(d, d + 1, in.count - 1) == 0) {
      return 0;
    }
    return rows;
  }

#if defined(__x86_64__) || defined(__i386__)
  // The pair search is most of a plain sector's cost: where the processor has AVX2, it runs on
  // 32-byte vectors.
  __attribute__((target("avx2"))) static RowSet RowsToTryAvx2(const SectorInput& in) {
    return RowsToTryWith<32>(in);
  }
#endif

  static DispatchVerdict StopCheck(const CarveEngine& engine) {
    return engine.stopped() ? DispatchVerdict::kStopScan : DispatchVerdict::kContinue;
  }
};

}  // namespace kestrel
