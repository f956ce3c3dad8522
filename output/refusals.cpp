#include "output/refusals.h"

#include <iterator>

#include "output/console.h"
#include "output/messages.h"

namespace corvane {

namespace {

struct RefusalText {
  const char* message;
  PidList ProgramPids::*listed;  // the PIDs listed after the message, or none
  const char* code;              // the report's reason, which scripts match: never changed
};

RefusalText textOf(Refusal refusal) {
  switch (refusal) {
    case Refusal::none:
      break;
    case Refusal::noService:  // ファイルが破損している可能性があります...終了します(PAT).
      return {msg::kDamagedPat, nullptr, "no-service"};
    case Refusal::severalServices:  // 複数のサービスが含まれています...処理できません(PAT).
      return {msg::kSeveralServicesPat, nullptr, "several-services"};
    case Refusal::severalPcrPids:  // ファイルが破損している可能性があります...終了します(PMT).
      return {msg::kDamagedPmt, nullptr, "several-pcr-pids"};
    case Refusal::noVideoInPmt:  // 映像が見つかりません...終了します(PMT).
      return {msg::kNoVideoPmt, nullptr, "no-video-in-pmt"};
    case Refusal::severalVideosInPmt:  // 複数の映像が含まれています...処理できません(PMT).
      return {msg::kSeveralVideoPmt, &ProgramPids::video, "several-videos-in-pmt"};
    case Refusal::noAudioInPmt:  // 音声が見つかりません...終了します(PMT).
      return {msg::kNoAudioPmt, nullptr, "no-audio-in-pmt"};
    case Refusal::tooManyAudiosInPmt:  // 三つ以上の音声が含まれています...処理できません(PMT).
      return {msg::kTooManyAudioPmt, &ProgramPids::audio, "too-many-audios-in-pmt"};
    case Refusal::notAtStart:  // ファイルの先頭がGOPで区切られていません...終了します.
      return {msg::kNotGopStart, nullptr, "not-at-gop"};
    case Refusal::noSecondPcr:  // ファイルが破損している可能性があります...終了します(INFO).
      return {msg::kDamagedInfo, nullptr, "no-second-pcr"};
    case Refusal::noVideo:  // 映像が見つかりません...終了します(INFO).
      return {msg::kNoVideoInfo, nullptr, "no-video"};
    case Refusal::severalVideos:  // 複数の映像が含まれています...処理できません(INFO).
      return {msg::kSeveralVideoInfo, &ProgramPids::video, "several-videos"};
    case Refusal::noAudio:  // 音声が見つかりません...終了します(INFO).
      return {msg::kNoAudioInfo, nullptr, "no-audio"};
    case Refusal::tooManyAudios:  // 三つ以上の音声が含まれています...処理できません(INFO).
      return {msg::kTooManyAudioInfo, &ProgramPids::audio, "too-many-audios"};
    case Refusal::scrambledVideo:  // 映像がスクランブルされています...処理できません(INFO).
      return {msg::kScrambledVideoInfo, nullptr, "scrambled-video"};
    case Refusal::badPmtSections:  // PMTのCRCが一致しません...終了します(PMT).
      return {msg::kBadPmtCrc, nullptr, "pmt-crc-error"};
  }
  return {"", nullptr, "none"};
}

}  // namespace

const char* refusalCode(Refusal refusal) { return textOf(refusal).code; }

const char* reasonCode(EndReason reason) {
  // In the order of EndReason; never changed.
  constexpr const char* kCodes[] = {"none",
                                    "usage",
                                    "no-memory",
                                    "interrupted",
                                    "source-open-error",
                                    "destination-open-error",
                                    "log-open-error",
                                    "report-open-error",
                                    "droplog-open-error",
                                    "read-error",
                                    "write-error",
                                    "log-write-error",
                                    "report-write-error",
                                    "plot-open-error",
                                    "plot-write-error"};
  static_assert(std::size(kCodes) == static_cast<std::size_t>(EndReason::plotWriteError) + 1);
  return kCodes[static_cast<std::size_t>(reason)];
}

void printRefusal(Refusal refusal, const ProgramPids& pids) {
  RefusalText text = textOf(refusal);
  writeErr(text.message);
  if (text.listed == nullptr) return;
  // " %d " for each PID of the list, then "\n".
  const PidList& list = pids.*text.listed;
  for (int pid = nextPid(list, -1); pid >= 0; pid = nextPid(list, pid)) {
    printErr(" %d ", pid);
  }
  writeErr("\n");
}

}  // namespace corvane
