#include "service/survey.h"

#include "ts/packet.h"
#include "ts/random_access.h"
#include "ts/timestamp.h"

namespace corvane {

namespace {

Refusal checkPat(const PidList& pmtPids) {
  std::int32_t services = countPids(pmtPids);
  if (services == 0) return Refusal::noService;
  if (services >= 2) return Refusal::severalServices;
  return Refusal::none;
}

// What each failed count is called, by where the PIDs were found.
struct CountRefusals {
  Refusal noVideo;
  Refusal severalVideos;
  Refusal noAudio;
  Refusal tooManyAudios;
};

// Exactly one video PID and one or two audio PIDs.
Refusal checkCounts(const ProgramPids& pids, const CountRefusals& refusals) {
  std::int32_t videos = countPids(pids.video);
  if (videos == 0) return refusals.noVideo;
  if (videos >= 2) return refusals.severalVideos;
  std::int32_t audios = countPids(pids.audio);
  if (audios == 0) return refusals.noAudio;
  if (audios >= 3) return refusals.tooManyAudios;
  return Refusal::none;
}

// Learns video and audio PIDs from PES headers, and sets `startFound` at the video PES header
// the recording may begin at: MPEG-2 video begins a GOP with a reference picture, whose PES
// carries a DTS as well; H.264 and HEVC begin with a picture that decodes on its own, which the
// NAL units tell.
Refusal checkPesStart(ProgramPids& pids, const std::uint8_t* p, bool& startFound) {
  if (!hasPayload(p)) return Refusal::none;
  if (scrambled(p)) {
    if (containsPid(pids.video, packetPid(p))) return Refusal::scrambledVideo;
    return startFound ? Refusal::none : Refusal::notAtStart;
  }
  int o = pesOffsetOf(p);
  if (startsPesHeader(p, o)) {
    int streamId = p[7 + o];
    int pid = packetPid(p);
    if ((streamId & 0xF0) == 0xE0) {
      insertPid(pids.video, pid);
      if (pesHasPts(p, o) && entersVideo(pids.videoCoding, p, o)) startFound = true;
    } else if ((streamId & 0xE0) == 0xC0) {
      insertPid(pids.audio, pid);
    }
  }
  return startFound ? Refusal::none : Refusal::notAtStart;
}

}  // namespace

Refusal checkPmt(const ProgramPids& pids) {
  if (countPids(pids.pcr) >= 2) return Refusal::severalPcrPids;
  return checkCounts(pids, {Refusal::noVideoInPmt, Refusal::severalVideosInPmt,
                            Refusal::noAudioInPmt, Refusal::tooManyAudiosInPmt});
}

Refusal surveyStream(Service& service, bool nogop, Framing framing, const std::uint8_t* block,
                     std::int32_t blockBytes) {
  bool startFound = nogop;
  int pcrCount = 0;
  Refusal verdict = Refusal::noSecondPcr;
  auto survey = [&](const std::uint8_t* packet) {
    if (transportError(packet)) return true;
    int pid = packetPid(packet);
    // A section is read only from the packet that starts it, and never from a scrambled one.
    int key = payloadUnitStart(packet) && !scrambled(packet) ? sectionKey(packet) : -1;
    Refusal refusal;
    if (pid == 0 && key == kPatSectionKey) {
      readPat(sectionIn(packet), service.pmtPids);
      refusal = checkPat(service.pmtPids);
    } else if (key == kPmtSectionKey && containsPid(service.pmtPids, pid)) {
      readPmt(sectionIn(packet), service.pids);
      service.programNumber = pmtProgramNumber(sectionIn(packet));
      refusal = checkPmt(service.pids);
    } else {
      refusal = checkPesStart(service.pids, packet, startFound);
    }
    if (refusal != Refusal::none) {
      verdict = refusal;
      return false;
    }

    if (containsPid(service.pids.pcr, pid) && carriesPcr(packet)) {
      ++pcrCount;
      // The stream checks at the second PCR end the survey either way.
      if (pcrCount >= 2) {
        service.pids.anchor = nextPid(service.pids.video, -1);
        verdict = checkCounts(service.pids, {Refusal::noVideo, Refusal::severalVideos,
                                             Refusal::noAudio, Refusal::tooManyAudios});
        return false;
      }
      // The first PCR lands at one hour; truncating division, as the offset is in 90 kHz.
      service.timeline.ptsOffset = (readPcr(packet) - kPcrOrigin) / 300;
      service.timeline.prevPtsOffset = service.timeline.ptsOffset;
    }
    return true;
  };
  // The block's end is taken for the source's: a packet it cuts short is passed by.
  PacketWalker walker{framing};
  walkPackets(walker, WalkView<const std::uint8_t>{block, 0, blockBytes, blockBytes, true}, survey,
              [](std::int64_t, std::int64_t, NotPackets) {});
  return verdict;
}

}  // namespace corvane
