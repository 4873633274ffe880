// A format added the way every format is: one module (its state, feed, finish, signature test,
// guard mark and row) and one line in a table of signature rows. The table is the registry's
// rows with the toy's appended, dispatched by the same SignatureDispatch the product uses; the
// product registry stays as it is.

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <utility>
#include <vector>

#include "carve/registry.h"
#include "carve/signature_dispatch.h"
#include "support/byte_strings.h"
#include "support/carve_harness.h"
#include "support/memory_scan.h"
#include "support/scan_harness.h"
#include "support/sector_feeder.h"

namespace kestrel {
namespace {

// ---- The toy module: "TOYF", the file's length (LE32), a version byte, then its body. ----

struct ToyState {
  uint64_t left = 0;  // bytes still to take
  bool second_version = false;
};

Fed FeedToy(ToyState& state, const CarveView& view) {
  if (state.left == 0) return Refuse();
  const uint64_t take = std::min<uint64_t>(state.left, view.in.count);
  state.left -= take;
  return state.left == 0 ? Complete(take) : More(take);
}

Kept FinishToy(const ToyState& state) {
  if (state.left != 0) return Drop();
  Kept kept = KeepAsIs();
  if (state.second_version) kept.extension = "TOY2";
  return kept;
}

}  // namespace

template <>
struct FormatOps<ToyState> : Ops<FeedToy, FinishToy> {};

namespace {

inline constexpr GuardMark kToyGuard{"TOY"};
// A type code past the catalogue's.
constexpr uint8_t kToyType = TypeSet::kCapacity - 1;

Match MatchToy(const RowInput& r, Start* s) {
  if (!r.h.StartsWith(0, "TOYF")) return Match::kNo;
  return Opens(s, ToyState{r.h.Le32(4), r.h[8] == '2'});
}

constexpr SignatureRow kToyRow{.test = MatchToy,
                               .gate = {0, "T"},
                               .guarded_by = {&kToyGuard},
                               .selection = Bits({kToyType}),
                               .extension = "TOY",
                               .guards = {&kToyGuard}};

// ---- The table with the toy's line. ----

template <size_t N, size_t... I>
constexpr std::array<SignatureRow, N + 1> Appended(const std::array<SignatureRow, N>& rows,
                                                   const SignatureRow& row,
                                                   std::index_sequence<I...>) {
  return {rows[I]..., row};
}

constexpr auto kRowsWithToy =
    Appended(kSignatureRows, kToyRow, std::make_index_sequence<kSignatureRows.size()>{});
using ToyDispatch = SignatureDispatch<kRowsWithToy>;

constexpr TypeSet kWithToy = kAllFileTypesMask | TypeBit(kToyType);

Bytes ToyFile(char version, size_t body_bytes) {
  Bytes body = Filler(body_bytes);
  // A toy header at the second sector's start lies inside the file: the toy's guard keeps it
  // from starting a file.
  if (body_bytes > 600) std::copy_n("TOYF\x10\0\0\0", 8, body.begin() + (512 - 9));
  const auto length = static_cast<uint32_t>(9 + body.size());
  return Concat({testing::Bytes("TOYF"), testing::Le32Bytes(length), {uint8_t(version)}, body});
}

Bytes Playlist() {
  return testing::Bytes("<ASX version=\"3.0\"><Entry/></ASX>");
}

TEST(ToyFormat, IsCarvedBesideTheRegistryFormatsByTheScan) {
  const Bytes first = ToyFile('1', 1500);
  const Bytes second = ToyFile('2', 100);
  const Bytes image =
      Concat({Filler(1024), testing::PadToSector(first), Filler(512),
              testing::PadToSector(Playlist()), testing::PadToSector(second), Filler(2048)});
  const auto carved = testing::CarveInMemory(image, kWithToy, ToyDispatch::Sector);
  ASSERT_EQ(carved.size(), 3u);
  EXPECT_EQ(carved[0].bytes, first);
  EXPECT_EQ(carved[1].bytes, Playlist());
  EXPECT_EQ(carved[2].bytes, second);
  EXPECT_TRUE(carved[0].name.ends_with(".TOY"));
  // The finish names the second version.
  EXPECT_TRUE(carved[2].name.ends_with(".TOY2"));
}

TEST(ToyFormat, IsCarvedOnlyWhenSelectedAndOnlyThroughItsTable) {
  const Bytes image = Concat({testing::PadToSector(ToyFile('1', 700)), Filler(512)});
  EXPECT_TRUE(testing::CarveInMemory(image, kAllFileTypesMask, ToyDispatch::Sector).empty());
  EXPECT_TRUE(testing::CarveInMemory(image, kWithToy).empty());
  EXPECT_EQ(testing::CarveInMemory(image, kWithToy, ToyDispatch::Sector).size(), 1u);
}

TEST(ToyFormat, ItsGateLetsItsHeaderThrough) {
  CarveHarness h(testing::PadToSector(ToyFile('1', 10)), kWithToy);
  const testing::SectorFeeder feeder(h.source.bytes());
  const SectorInput in = feeder.At(0);
  const uint64_t toy_row = uint64_t{1} << kSignatureRows.size();
  EXPECT_EQ(ToyDispatch::RowsMatching(h.engine, in), toy_row);
  EXPECT_EQ(ToyDispatch::RowsTried(in) & toy_row, toy_row);
}

}  // namespace
}  // namespace kestrel
