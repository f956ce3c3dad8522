// The survey of the first block: finds PAT, PMT, PCR and the start the recording must begin at,
// fills the service's PIDs, sets its first offset and decides whether the recording can be
// rebased.
#pragma once

#include <cstdint>

#include "service/service.h"
#include "ts/packet_walker.h"

namespace corvane {

// Why a recording, or a PMT met during the pass, cannot be taken.
enum class Refusal : std::uint8_t {
  none,
  // The PAT.
  noService,
  severalServices,
  // A PMT, as it adds to what the PMTs before it listed.
  severalPcrPids,
  noVideoInPmt,
  severalVideosInPmt,  // the video PIDs are listed after the message
  noAudioInPmt,
  tooManyAudiosInPmt,  // the audio PIDs are listed after the message
  // The packets of the first block.
  notAtStart,  // the first packet that is not PAT or PMT is not where the video can be entered
  noSecondPcr,
  noVideo,
  severalVideos,  // the video PIDs are listed after the message
  noAudio,
  tooManyAudios,   // the audio PIDs are listed after the message
  scrambledVideo,  // the video's packets are scrambled, so its timestamps cannot be reached
  // A whole transport stream: no PMT came in the first block, and sections on PMT PIDs failed
  // their CRC_32.
  badPmtSections,
};

// Surveys the packets of the first block of the source, `blockBytes` bytes at `block` framed as
// `framing`, into `service`. Errored packets and a packet cut short by the block's end are
// passed by, and nothing is read from the payload of a scrambled packet. With `nogop` the
// recording may begin with any packet.
Refusal surveyStream(Service& service, bool nogop, Framing framing, const std::uint8_t* block,
                     std::int32_t blockBytes);

// The PIDs that PMTs have listed so far, as one service with exactly one PCR PID, one video PID
// and one or two audio PIDs: the check after each PMT, in the survey and in the pass.
Refusal checkPmt(const ProgramPids& pids);

}  // namespace corvane
