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

// The audio coding that a descriptor of a private stream (stream_type 0x06) announces: AC-3
// (tag 0x6A), E-AC-3 (0x7A) or DTS (0x7B). Other: none of them.
StreamCoding privateAudioCoding(const std::uint8_t* descriptors, int length) {
  for (int k = 0; k + 2 <= length; k += 2 + descriptors[k + 1]) {
    switch (descriptors[k]) {
      case 0x6A:
        return StreamCoding::ac3;
      case 0x7A:
        return StreamCoding::eac3;
      case 0x7B:
        return StreamCoding::dts;
      default:
        break;
    }
  }
  return StreamCoding::other;
}

// A stream of a service in a multiplex, by its stream_type and descriptors.
StreamCoding codingOf(int streamType, const std::uint8_t* descriptors, int length) {
  switch (streamType) {
    case 0x02:
      return StreamCoding::mpeg2Video;
    case 0x1B:
      return StreamCoding::h264;
    case 0x24:
      return StreamCoding::hevc;
    case 0x03:
      return StreamCoding::mpeg1Audio;
    case 0x04:
      return StreamCoding::mpeg2Audio;
    case 0x0F:
      return StreamCoding::aac;
    case 0x11:
      return StreamCoding::aacLatm;
    case 0x81:
      return StreamCoding::ac3;
    case 0x87:
      return StreamCoding::eac3;
    case 0x06:
      return holdsCaptionTag(descriptors, length) ? StreamCoding::caption
                                                  : privateAudioCoding(descriptors, length);
    default:
      return StreamCoding::other;
  }
}

// Stream types whose packets carry sections, not PES: private sections, DSM-CC and splice
// information. They have nothing to rebase.
bool carriesSections(int streamType) {
  return streamType == 0x05 || (streamType >= 0x0A && streamType <= 0x0D) || streamType == 0x86;
}

}  // namespace

CodingNames codingNames(StreamCoding coding) {
  switch (coding) {
    case StreamCoding::mpeg2Video:
      return {"mpeg2-video", "MPEG-2"};
    case StreamCoding::h264:
      return {"h264", "H.264"};
    case StreamCoding::hevc:
      return {"hevc", "HEVC"};
    case StreamCoding::mpeg1Audio:
      return {"mpeg1-audio", "MPEG-1"};
    case StreamCoding::mpeg2Audio:
      return {"mpeg2-audio", "MPEG-2"};
    case StreamCoding::aac:
      return {"aac", "AAC"};
    case StreamCoding::aacLatm:
      return {"aac-latm", "AAC-LATM"};
    case StreamCoding::ac3:
      return {"ac3", "AC-3"};
    case StreamCoding::eac3:
      return {"eac3", "E-AC-3"};
    case StreamCoding::dts:
      return {"dts", "DTS"};
    case StreamCoding::caption:
      return {"caption", ""};
    case StreamCoding::other:
      break;
  }
  return {"other", ""};
}

void readPat(Section section, PidList& pmtPids) {
  forEachPatProgram(section, [&pmtPids](int, int pmtPid) { insertPid(pmtPids, pmtPid); });
}

void readPmt(Section section, ProgramPids& pids, PmtStreams streams, StreamListing* listing) {
  const std::uint8_t* s = section.bytes;
  bool anyStream = streams == PmtStreams::anyStream;
  insertPid(pids.pcr, (s[8] & 0x1F) << 8 | s[9]);
  if (listing != nullptr) listing->count = 0;

  int programInfoLength = (s[10] & 0x0F) << 8 | s[11];
  int entryArea = 12 + programInfoLength;
  int entryBytes = sectionLengthOf(s) - programInfoLength - 13;
  // Entries are read only while their 5-byte header is there, and descriptors only as far as
  // they are.
  for (int j = 0; j < entryBytes && entryArea + j + 5 <= section.size;) {
    const std::uint8_t* entry = s + entryArea + j;
    int streamType = entry[0];
    int pid = (entry[1] & 0x1F) << 8 | entry[2];
    int esInfoLength = (entry[3] & 0x0F) << 8 | entry[4];
    int inside = section.size - (entryArea + j + 5);
    int descriptorBytes = esInfoLength < inside ? esInfoLength : inside;
    j += 5 + esInfoLength;

    if (anyStream && (pid < 0x0010 || pid == kNullPid || carriesSections(streamType))) continue;
    StreamCoding coding = codingOf(streamType, entry + 5, descriptorBytes);
    PidList* list = isVideoCoding(coding)             ? &pids.video
                    : coding == StreamCoding::caption ? &pids.captions
                    : coding == StreamCoding::other   ? &pids.others
                                                      : &pids.audio;
    if (!anyStream) {
      // One service takes AAC in ADTS among the audio codings, and no other streams. Its video
      // coding is the last video stream's; a multiplex's service takes its anchor's, which is
      // settled from the listing.
      if (list == &pids.others || (list == &pids.audio && coding != StreamCoding::aac)) continue;
      if (list == &pids.video) pids.videoCoding = videoCodingOf(coding);
    } else if (listing != nullptr && listing->count < kMaxListedStreams) {
      listing->streams[listing->count++] = {static_cast<std::uint16_t>(pid), coding};
    }
    insertPid(*list, pid);
  }
}

}  // namespace corvane
