#include "carve/format_state.h"

namespace kestrel {
namespace {

template <typename... Ts>
struct Overloaded : Ts... {
  using Ts::operator()...;
};
template <typename... Ts>
Overloaded(Ts...) -> Overloaded<Ts...>;

}  // namespace

Fed FeedFormat(FormatState& state, const CarveView& view) {
  return std::visit(Overloaded{
                        [&](CountedState& s) { return FeedCounted(s, view); },
                        [&](EndMarkerState& s) { return FeedEndMarker(s, view); },
                        [&](JpegState& s) { return FeedJpeg(s, view); },
                        [&](GifState& s) { return FeedGif(s, view); },
                        [&](RtfState& s) { return FeedRtf(s, view); },
                        [&](MidiState& s) { return FeedMidi(s, view); },
                        [&](CrwState& s) { return FeedCrw(s, view); },
                        [&](X3fState& s) { return FeedX3f(s, view); },
                        [&](ZipState& s) { return FeedZip(s, view); },
                        [&](MovState& s) { return FeedMov(s, view); },
                        [&](CompoundState& s) { return FeedCompound(s, view); },
                        [&](TiffState& s) { return FeedTiff(s, view); },
                        [&](PdfState& s) { return FeedPdf(s, view); },
                        [&](MpegState& s) { return FeedMpeg(s, view); },
                        [&](Mp3State& s) { return FeedMp3(s, view); },
                    },
                    state);
}

Kept FinishFormat(const FormatState& state, uint64_t selected) {
  return std::visit(Overloaded{
                        [](const CountedState& s) { return FinishCounted(s); },
                        [](const EndMarkerState& s) { return FinishEndMarker(s); },
                        [](const JpegState& s) { return FinishJpeg(s); },
                        [](const GifState& s) { return FinishGif(s); },
                        [](const RtfState& s) { return FinishRtf(s); },
                        [](const MidiState& s) { return FinishMidi(s); },
                        [](const CrwState& s) { return FinishCrw(s); },
                        [](const X3fState& s) { return FinishX3f(s); },
                        [&](const ZipState& s) { return FinishZip(s, selected); },
                        [](const MovState& s) { return FinishMov(s); },
                        [&](const CompoundState& s) { return FinishCompound(s, selected); },
                        [&](const TiffState& s) { return FinishTiff(s, selected); },
                        [](const PdfState& s) { return FinishPdf(s); },
                        [](const MpegState& s) { return FinishMpeg(s); },
                        [](const Mp3State& s) { return FinishMp3(s); },
                    },
                    state);
}

}  // namespace kestrel
