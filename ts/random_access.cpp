#include "ts/random_access.h"

#include "ts/packet.h"

namespace corvane {

namespace {

enum class NalKind { randomAccessSlice, otherSlice, intraAccessUnit, sequenceParameters, other };

// The kind of the NAL unit whose header begins at `at` (behind its start code).
NalKind classify(VideoCoding coding, const std::uint8_t* packet, int at) {
  if (coding == VideoCoding::h264) {
    int type = packet[at] & 0x1F;
    if (type == 5) return NalKind::randomAccessSlice;
    if (type >= 1 && type <= 4) return NalKind::otherSlice;
    if (type == 7) return NalKind::sequenceParameters;
    // An access unit delimiter whose primary_pic_type is 0 (I), 3 (SI) or 5 (I, SI): intra slices
    // only. Other values say only which slice types may occur.
    if (type == 9 && at + 1 <= kLastPacketByte) {
      int pictureType = packet[at + 1] >> 5;
      if (pictureType == 0 || pictureType == 3 || pictureType == 5) return NalKind::intraAccessUnit;
    }
    return NalKind::other;
  }
  // HEVC: a two-byte NAL unit header with the type in bits 1 to 6 of the first byte. Types below
  // 32 are slices, of which only 16 to 23 begin a picture that needs no other.
  int type = packet[at] >> 1 & 0x3F;
  if (type >= 16 && type <= 23) return NalKind::randomAccessSlice;
  if (type < 32) return NalKind::otherSlice;
  if (type == 33) return NalKind::sequenceParameters;
  // An access unit delimiter whose pic_type is 0: I slices only.
  if (type == 35 && at + 2 <= kLastPacketByte && packet[at + 2] >> 5 == 0) {
    return NalKind::intraAccessUnit;
  }
  return NalKind::other;
}

}  // namespace

bool startsAtRandomAccess(VideoCoding coding, const std::uint8_t* packet, int pesOffset) {
  constexpr int kHeaderDataLength = 12;  // PES_header_data_length, behind the flags
  int o = pesOffset;
  if (coding == VideoCoding::mpeg2 || coding == VideoCoding::none ||
      kHeaderDataLength + o > kLastPacketByte)
    return false;
  bool sequenceParameters = false;
  bool intraAccessUnit = false;
  // Start codes 00 00 01 from the first byte of the PES payload on, with the NAL unit header
  // behind them inside the packet.
  for (int at = kHeaderDataLength + 1 + o + packet[kHeaderDataLength + o] + 3;
       at <= kLastPacketByte; ++at) {
    if (packet[at - 1] != 0x01 || packet[at - 2] != 0x00 || packet[at - 3] != 0x00) continue;
    switch (classify(coding, packet, at)) {
      case NalKind::randomAccessSlice:
        return true;
      case NalKind::otherSlice:
        return false;
      case NalKind::intraAccessUnit:
        intraAccessUnit = true;
        break;
      case NalKind::sequenceParameters:
        sequenceParameters = true;
        break;
      case NalKind::other:
        break;
    }
  }
  return sequenceParameters && (intraAccessUnit || randomAccessIndicator(packet));
}

}  // namespace corvane
