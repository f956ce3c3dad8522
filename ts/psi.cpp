#include "ts/psi.h"

namespace corvane {

namespace {

// The descriptor bytes hold 0x52 0x01 0x30: a stream_identifier_descriptor with component_tag
// 0x30. A plain byte search, so the sequence counts wherever it stands.
bool holdsCaptionTag(const std::uint8_t* descriptors, int length) {
  for (int k = 0; k + 2 < length; ++k) {
    if (descriptors[k] == 0x52 && descriptors[k + 1] == 0x01 && descriptors[k + 2] == 0x30) {
      return true;
    }
  }
  return false;
}

}  // namespace

void readPat(const std::uint8_t* p, PidList& pmtPids) {
  int entryBytes = sectionLength(p) - 9;  // section_length counts bytes 8..12 and the CRC too
  // Entries are read only where all four bytes lie inside the packet.
  for (int j = 0; j < entryBytes && 13 + j + 4 <= kPacketSize; j += 4) {
    const std::uint8_t* entry = p + 13 + j;
    int programNumber = entry[0] << 8 | entry[1];
    if (programNumber == 0) continue;
    insertPid(pmtPids, (entry[2] & 0x1F) << 8 | entry[3]);
  }
}

void readPmt(const std::uint8_t* p, ProgramPids& pids) {
  insertPid(pids.pcr, (p[13] & 0x1F) << 8 | p[14]);

  int programInfoLength = (p[15] & 0x0F) << 8 | p[16];
  int entryArea = 17 + programInfoLength;
  int entryBytes = sectionLength(p) - programInfoLength - 13;
  // Entries are read only while their 5-byte header lies inside the packet, and the caption
  // search only over descriptor bytes inside it.
  for (int j = 0; j < entryBytes && entryArea + j + 5 <= kPacketSize;) {
    const std::uint8_t* entry = p + entryArea + j;
    int streamType = entry[0];
    int pid = (entry[1] & 0x1F) << 8 | entry[2];
    int esInfoLength = (entry[3] & 0x0F) << 8 | entry[4];
    PidList* list = nullptr;
    if (streamType == 0x02 || streamType == 0x1B || streamType == 0x24) {
      list = &pids.video;
      pids.videoCoding = streamType == 0x02   ? VideoCoding::mpeg2
                         : streamType == 0x1B ? VideoCoding::h264
                                              : VideoCoding::hevc;
    } else if (streamType == 0x0F) {
      list = &pids.audio;
    } else if (streamType == 0x06) {
      int inside = kPacketSize - (entryArea + j + 5);
      if (holdsCaptionTag(entry + 5, esInfoLength < inside ? esInfoLength : inside)) {
        list = &pids.captions;
      }
    }
    if (list != nullptr) insertPid(*list, pid);
    j += 5 + esInfoLength;
  }
}

}  // namespace corvane
