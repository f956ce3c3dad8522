// Where an H.264 or HEVC stream can be entered: the picture that a recording must begin with.
#pragma once

#include <cstdint>

#include "ts/packet.h"
#include "ts/psi.h"

namespace corvane {

// True when the video PES whose header starts behind the packet header at `pesOffset` begins with
// a picture that decodes on its own: an IDR picture (H.264 NAL unit type 5) or an IRAP picture
// (HEVC NAL unit types 16 to 23). Only the packet's own bytes are read:
// - the first slice NAL unit in the packet decides;
// - when the packet ends before the first slice (long parameter sets or SEI ahead of it), a
//   sequence parameter set marks the start, together with either the adaptation field's
//   random_access_indicator or an access unit delimiter that announces intra slices only.
// Always false for MPEG-2 video.
bool startsAtRandomAccess(VideoCoding coding, const std::uint8_t* packet, int pesOffset);

// True when the video PES with a PTS at `pesOffset` begins a picture that a recording may begin
// with: for MPEG-2 one that carries a DTS too (a reference picture, which a GOP opens with), for
// H.264 and HEVC one that starts at random access. Always false without video.
inline bool entersVideo(VideoCoding coding, const std::uint8_t* packet, int pesOffset) {
  return coding == VideoCoding::mpeg2 ? pesHasDts(packet, pesOffset)
                                      : startsAtRandomAccess(coding, packet, pesOffset);
}

}  // namespace corvane
