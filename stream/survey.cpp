#include "stream/survey.h"

#include "stream/console.h"
#include "stream/messages.h"
#include "stream/packet.h"
#include "stream/random_access.h"
#include "stream/timestamp.h"

namespace corvane {

namespace {

// " %d " for each PID of the list, then "\n".
void printPidListing(const PidList& list) {
  for (int pid = nextPid(list, -1); pid >= 0; pid = nextPid(list, pid)) {
    std::fprintf(stderr, " %d ", pid);
  }
  writeErr("\n");
}

// The descriptor bytes hold 0x52 0x01 0x30: a stream_identifier_descriptor with component_tag
// 0x30, which broadcasters give the caption stream. A plain byte search, so the sequence counts
// wherever it stands.
bool holdsCaptionTag(const std::uint8_t* descriptors, int length) {
  for (int k = 0; k + 2 < length; ++k) {
    if (descriptors[k] == 0x52 && descriptors[k + 1] == 0x01 && descriptors[k + 2] == 0x30) {
      return true;
    }
  }
  return false;
}

bool stopAt(const char* message) {
  writeErr(message);
  return false;
}

bool stopWithListing(const char* message, const PidList& list) {
  writeErr(message);
  printPidListing(list);
  return false;
}

// The stream checks made at the second PCR; they end the survey either way.
bool checkStreams(const StreamContext& context) {
  std::int32_t videos = countPids(context.videoPids);
  std::int32_t audios = countPids(context.audioPids);
  if (videos == 0) return stopAt(msg::kNoVideoInfo);  // 映像が見つかりません...終了します(INFO).
  if (videos >= 2) {
    // 複数の映像が含まれています...処理できません(INFO).
    return stopWithListing(msg::kSeveralVideoInfo, context.videoPids);
  }
  if (audios == 0) return stopAt(msg::kNoAudioInfo);  // 音声が見つかりません...終了します(INFO).
  if (audios <= 2) return true;
  // 三つ以上の音声が含まれています...処理できません(INFO).
  return stopWithListing(msg::kTooManyAudioInfo, context.audioPids);
}

}  // namespace

bool surveyStream(StreamContext& context, const std::uint8_t* block, std::int32_t blockBytes) {
  context.gopStartFound = context.run.settings.nogop;
  int pcrCount = 0;
  // A partial last packet, cut off where the file ends, is passed by like an errored one.
  for (std::int32_t offset = 0; offset + kPacketSize <= blockBytes; offset += kPacketSize) {
    const std::uint8_t* packet = block + offset;
    if (transportError(packet)) continue;
    int pid = packetPid(packet);
    // A section is read only from the packet that starts it.
    int key = payloadUnitStart(packet) ? sectionKey(packet) : -1;
    bool ok;
    if (pid == 0 && key == kPatSectionKey) {
      ok = readPat(context, packet);
    } else if (key == kPmtSectionKey && containsPid(context.pmtPids, pid)) {
      ok = readPmt(context, packet);
    } else {
      ok = checkPesStart(context, packet);
    }
    if (!ok) return false;

    if (containsPid(context.pcrPids, pid) && carriesPcr(packet)) {
      ++pcrCount;
      if (pcrCount == 1) {
        // The first PCR lands at one hour; truncating division, as the offset is in 90 kHz.
        context.ptsOffset = (readPcr(packet) - context.pcrOrigin) / 300;
        context.prevPtsOffset = context.ptsOffset;
      } else {
        return checkStreams(context);
      }
    }
  }
  // ファイルが破損している可能性があります...終了します(INFO).
  return stopAt(msg::kDamagedInfo);
}

bool readPat(StreamContext& context, const std::uint8_t* p) {
  int entryBytes = sectionLength(p) - 9;  // section_length counts bytes 8..12 and the CRC too
  // Entries are read only where all four bytes lie inside the packet.
  for (int j = 0; j < entryBytes && 13 + j + 4 <= kPacketSize; j += 4) {
    const std::uint8_t* entry = p + 13 + j;
    int programNumber = entry[0] << 8 | entry[1];
    if (programNumber == 0) continue;  // the network PID, not a service
    insertPid(context.pmtPids, (entry[2] & 0x1F) << 8 | entry[3]);
  }
  std::int32_t services = countPids(context.pmtPids);
  // ファイルが破損している可能性があります...終了します(PAT).
  if (services == 0) return stopAt(msg::kDamagedPat);
  // 複数のサービスが含まれています...処理できません(PAT).
  if (services >= 2) return stopAt(msg::kSeveralServicesPat);
  return true;
}

bool readPmt(StreamContext& context, const std::uint8_t* p) {
  insertPid(context.pcrPids, (p[13] & 0x1F) << 8 | p[14]);

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
      list = &context.videoPids;
      context.videoCoding = streamType == 0x02   ? VideoCoding::mpeg2
                            : streamType == 0x1B ? VideoCoding::h264
                                                 : VideoCoding::hevc;
    } else if (streamType == 0x0F) {
      list = &context.audioPids;
    } else if (streamType == 0x06) {
      int inside = kPacketSize - (entryArea + j + 5);
      if (holdsCaptionTag(entry + 5, esInfoLength < inside ? esInfoLength : inside)) {
        list = &context.captionPids;
      }
    }
    if (list != nullptr) insertPid(*list, pid);
    j += 5 + esInfoLength;
  }

  // ファイルが破損している可能性があります...終了します(PMT).
  if (countPids(context.pcrPids) >= 2) return stopAt(msg::kDamagedPmt);
  std::int32_t videos = countPids(context.videoPids);
  if (videos == 0) return stopAt(msg::kNoVideoPmt);  // 映像が見つかりません...終了します(PMT).
  if (videos >= 2) {
    // 複数の映像が含まれています...処理できません(PMT).
    return stopWithListing(msg::kSeveralVideoPmt, context.videoPids);
  }
  std::int32_t audios = countPids(context.audioPids);
  if (audios == 0) return stopAt(msg::kNoAudioPmt);  // 音声が見つかりません...終了します(PMT).
  if (audios >= 3) {
    // 三つ以上の音声が含まれています...処理できません(PMT).
    return stopWithListing(msg::kTooManyAudioPmt, context.audioPids);
  }
  return true;
}

bool checkPesStart(StreamContext& context, const std::uint8_t* p) {
  if (!hasPayload(p)) return true;

  int o = pesOffsetOf(p);
  if (startsPesHeader(p, o)) {
    int streamId = p[7 + o];
    int pid = packetPid(p);
    if ((streamId & 0xF0) == 0xE0) {
      insertPid(context.videoPids, pid);
      // MPEG-2 video begins a GOP with a reference picture, whose PES carries a DTS as well; H.264
      // and HEVC begin with a picture that decodes on its own, which the NAL units tell.
      bool entryPicture = context.videoCoding == VideoCoding::mpeg2
                              ? pesHasDts(p, o)
                              : startsAtRandomAccess(context.videoCoding, p, o);
      if (pesHasPts(p, o) && entryPicture) context.gopStartFound = true;
    } else if ((streamId & 0xE0) == 0xC0) {
      insertPid(context.audioPids, pid);
    }
  }
  // ファイルの先頭がGOPで区切られていません...終了します.
  if (!context.gopStartFound) return stopAt(msg::kNotGopStart);
  return true;
}

}  // namespace corvane
