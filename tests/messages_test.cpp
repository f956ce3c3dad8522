// Every console text is held as Shift-JIS bytes; here the readable texts are converted with
// iconv and compared with those bytes, so that no message can drift from its wording.
#include "output/messages.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/test_support.h"

namespace corvane {
namespace {

TEST(ConsoleTexts, AreTheShiftJisBytesOfTheirWording) {
  const struct {
    const char* bytes;
    const char* text;
  } cases[] = {
      {msg::kReadBufferAllocFailed, "読込みバッファメモリの確保に失敗しました.\n"},
      {msg::kCcTableAllocFailed, "巡回カウンタメモリの確保に失敗しました.\n"},
      {msg::kStartTime, "開始時刻 %02d時%02d分%02d秒\n"},
      {msg::kEndTime, "終了時刻 %02d時%02d分%02d秒\n"},
      {msg::kLogOpenFailed, "Open Log File: %s failed\n"},
      {msg::kReadOpenError, "読込みファイルオープンエラー. error code %d.\n"},
      {msg::kUsagePressEnter, "Enterキーを押して下さい..."},
      {msg::kSurveyProgress, "PAT,PMT,PCR,GOP 検索中\n"},
      {msg::kInterrupted, "シグナル %d を受けて中断しました.\n"},
      {msg::kDamageCounted, "エラー %lld, ドロップ %lld, スクランブル %lld パケット.\n"},
      {msg::kDamagedInfo, "ファイルが破損している可能性があります...終了します(INFO).\n"},
      {msg::kNoVideoInfo, "映像が見つかりません...終了します(INFO).\n"},
      {msg::kSeveralVideoInfo, "複数の映像が含まれています...処理できません(INFO). "},
      {msg::kNoAudioInfo, "音声が見つかりません...終了します(INFO).\n"},
      {msg::kTooManyAudioInfo, "三つ以上の音声が含まれています...処理できません(INFO). "},
      {msg::kDamagedPat, "ファイルが破損している可能性があります...終了します(PAT).\n"},
      {msg::kSeveralServicesPat, "複数のサービスが含まれています...処理できません(PAT).\n"},
      {msg::kDamagedPmt, "ファイルが破損している可能性があります...終了します(PMT).\n"},
      {msg::kNoVideoPmt, "映像が見つかりません...終了します(PMT).\n"},
      {msg::kSeveralVideoPmt, "複数の映像が含まれています...処理できません(PMT)."},
      {msg::kNoAudioPmt, "音声が見つかりません...終了します(PMT).\n"},
      {msg::kTooManyAudioPmt, "三つ以上の音声が含まれています...処理できません(PMT)."},
      {msg::kNotGopStart, "ファイルの先頭がGOPで区切られていません...終了します.\n"},
      {msg::kScrambledVideoInfo, "映像がスクランブルされています...処理できません(INFO).\n"},
      {msg::kBadPmtCrc, "PMTのCRCが一致しません...終了します(PMT).\n"},
      {msg::kMemoryAllocFailed, "メモリの確保に失敗しました\n"},
      {msg::kServiceHeading, "サービス %d: PCR %04x"},
      {msg::kServiceWithoutPcr, "サービス %d: PCRなし"},
      {msg::kServiceVideo, " 映像 %04x(%s)"},
      {msg::kServiceAudio, " 音声 %04x(%s)"},
      {msg::kServiceCaption, " 字幕 %04x"},
      {msg::kServiceOther, " その他 %04x"},
      {msg::kServiceScrambled, " ...スクランブルされています. 巡回カウンタのみ更新します.\n"},
      {msg::kServiceWithoutStream, " ...ストリームがありません. 巡回カウンタのみ更新します.\n"},
      {msg::kServiceWithoutPmt, "サービス %d: PMTが見つかりません...巡回カウンタのみ更新します.\n"},
      {msg::kServiceBadPmt, "サービス %d: PMTのCRCが一致しません...巡回カウンタのみ更新します.\n"},
      {msg::kReadError, "リードエラー. error code %d.\n"},
      {msg::kRewriteProgressStart, "PCR,PTS,DTS 更新中　 0%% \r"},
      {msg::kRewriteProgress, "PCR,PTS,DTS 更新中　 %d%% \r"},
      {msg::kRewriteProgressMegabytes, "PCR,PTS,DTS 更新中　 %lld MB \r"},
      {msg::kRewriteDone, "PCR,PTS,DTS 更新完了 100%% \n"},
      {msg::kNotPacketBytes, "パケットでない %lld バイトをそのまま書き込みました.\n"},
      {msg::kWriteOpenError, "書込みファイルオープンエラー. error code %d.\n"},
      {msg::kWriteError, "データ書き込み中にエラーが発生しました. error code %d.\n"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(std::string(c.bytes), testing::toCp932(c.text)) << c.text;
  }
}

TEST(ConsoleTexts, ProgressUsesTheIdeographicSpace) {
  // U+3000 is 0x81 0x40 in code page 932, between 中 and the blank before the figure.
  EXPECT_NE(std::string(msg::kRewriteProgress).find("\x92\x86\x81\x40 %d%% \r"), std::string::npos);
}

}  // namespace
}  // namespace corvane
