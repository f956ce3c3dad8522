// Console texts of the tool, as the Shift-JIS (code page 932) bytes that reach the console.
// Each constant has its readable text in the comment above it; tests/messages_test.cpp converts
// those texts with iconv and compares them with these bytes, so the two cannot drift apart.
// Texts with arguments are printf formats ("%%" prints one percent sign).
#pragma once

// The byte strings stay on one line each, beside their readable text.
// clang-format off
namespace corvane::msg {

// 読込みバッファメモリの確保に失敗しました.\n
inline constexpr char kReadBufferAllocFailed[] = "\x93\xC7\x8D\x9E\x82\xDD\x83o\x83" "b\x83t\x83@\x83\x81\x83\x82\x83\x8A\x82\xCC\x8Am\x95\xDB\x82\xC9\x8E\xB8\x94s\x82\xB5\x82\xDC\x82\xB5\x82\xBD.\n";

// 巡回カウンタメモリの確保に失敗しました.\n
inline constexpr char kCcTableAllocFailed[] = "\x8F\x84\x89\xF1\x83J\x83" "E\x83\x93\x83^\x83\x81\x83\x82\x83\x8A\x82\xCC\x8Am\x95\xDB\x82\xC9\x8E\xB8\x94s\x82\xB5\x82\xDC\x82\xB5\x82\xBD.\n";

// 開始時刻 %02d時%02d分%02d秒\n
inline constexpr char kStartTime[] = "\x8AJ\x8En\x8E\x9E\x8D\x8F %02d\x8E\x9E%02d\x95\xAA%02d\x95" "b\n";

// 終了時刻 %02d時%02d分%02d秒\n
inline constexpr char kEndTime[] = "\x8FI\x97\xB9\x8E\x9E\x8D\x8F %02d\x8E\x9E%02d\x95\xAA%02d\x95" "b\n";

// Open Log File: %s failed\n
inline constexpr char kLogOpenFailed[] = "Open Log File: %s failed\n";
// The report cannot be written where it is asked for, or its name leads to a file of the run.
inline constexpr char kReportOpenFailed[] = "Open Report File: %s failed\n";
// The drop log cannot be written where it is asked for, or its name leads to a file of the run.
inline constexpr char kDropLogOpenFailed[] = "Open Drop Log File: %s failed\n";
// The picture likewise.
inline constexpr char kPlotOpenFailed[] = "Open Plot File: %s failed\n";

// 読込みファイルオープンエラー. error code %d.\n
inline constexpr char kReadOpenError[] = "\x93\xC7\x8D\x9E\x82\xDD\x83t\x83@\x83" "C\x83\x8B\x83I\x81[\x83v\x83\x93\x83G\x83\x89\x81[. error code %d.\n";

// Enterキーを押して下さい...
inline constexpr char kUsagePressEnter[] = "Enter\x83L\x81[\x82\xF0\x89\x9F\x82\xB5\x82\xC4\x89\xBA\x82\xB3\x82\xA2...";

// PAT,PMT,PCR,GOP 検索中\n
inline constexpr char kSurveyProgress[] = "PAT,PMT,PCR,GOP \x8C\x9F\x8D\xF5\x92\x86\n";

// ファイルが破損している可能性があります...終了します(INFO).\n
inline constexpr char kDamagedInfo[] = "\x83t\x83@\x83" "C\x83\x8B\x82\xAA\x94j\x91\xB9\x82\xB5\x82\xC4\x82\xA2\x82\xE9\x89\xC2\x94\\\x90\xAB\x82\xAA\x82\xA0\x82\xE8\x82\xDC\x82\xB7...\x8FI\x97\xB9\x82\xB5\x82\xDC\x82\xB7(INFO).\n";

// 映像が見つかりません...終了します(INFO).\n
inline constexpr char kNoVideoInfo[] = "\x89" "f\x91\x9C\x82\xAA\x8C\xA9\x82\xC2\x82\xA9\x82\xE8\x82\xDC\x82\xB9\x82\xF1...\x8FI\x97\xB9\x82\xB5\x82\xDC\x82\xB7(INFO).\n";

// 複数の映像が含まれています...処理できません(INFO). 
inline constexpr char kSeveralVideoInfo[] = "\x95\xA1\x90\x94\x82\xCC\x89" "f\x91\x9C\x82\xAA\x8A\xDC\x82\xDC\x82\xEA\x82\xC4\x82\xA2\x82\xDC\x82\xB7...\x8F\x88\x97\x9D\x82\xC5\x82\xAB\x82\xDC\x82\xB9\x82\xF1(INFO). ";

// 音声が見つかりません...終了します(INFO).\n
inline constexpr char kNoAudioInfo[] = "\x89\xB9\x90\xBA\x82\xAA\x8C\xA9\x82\xC2\x82\xA9\x82\xE8\x82\xDC\x82\xB9\x82\xF1...\x8FI\x97\xB9\x82\xB5\x82\xDC\x82\xB7(INFO).\n";

// 三つ以上の音声が含まれています...処理できません(INFO). 
inline constexpr char kTooManyAudioInfo[] = "\x8EO\x82\xC2\x88\xC8\x8F\xE3\x82\xCC\x89\xB9\x90\xBA\x82\xAA\x8A\xDC\x82\xDC\x82\xEA\x82\xC4\x82\xA2\x82\xDC\x82\xB7...\x8F\x88\x97\x9D\x82\xC5\x82\xAB\x82\xDC\x82\xB9\x82\xF1(INFO). ";

// ファイルが破損している可能性があります...終了します(PAT).\n
inline constexpr char kDamagedPat[] = "\x83t\x83@\x83" "C\x83\x8B\x82\xAA\x94j\x91\xB9\x82\xB5\x82\xC4\x82\xA2\x82\xE9\x89\xC2\x94\\\x90\xAB\x82\xAA\x82\xA0\x82\xE8\x82\xDC\x82\xB7...\x8FI\x97\xB9\x82\xB5\x82\xDC\x82\xB7(PAT).\n";

// 複数のサービスが含まれています...処理できません(PAT).\n
inline constexpr char kSeveralServicesPat[] = "\x95\xA1\x90\x94\x82\xCC\x83T\x81[\x83r\x83X\x82\xAA\x8A\xDC\x82\xDC\x82\xEA\x82\xC4\x82\xA2\x82\xDC\x82\xB7...\x8F\x88\x97\x9D\x82\xC5\x82\xAB\x82\xDC\x82\xB9\x82\xF1(PAT).\n";

// ファイルが破損している可能性があります...終了します(PMT).\n
inline constexpr char kDamagedPmt[] = "\x83t\x83@\x83" "C\x83\x8B\x82\xAA\x94j\x91\xB9\x82\xB5\x82\xC4\x82\xA2\x82\xE9\x89\xC2\x94\\\x90\xAB\x82\xAA\x82\xA0\x82\xE8\x82\xDC\x82\xB7...\x8FI\x97\xB9\x82\xB5\x82\xDC\x82\xB7(PMT).\n";

// 映像が見つかりません...終了します(PMT).\n
inline constexpr char kNoVideoPmt[] = "\x89" "f\x91\x9C\x82\xAA\x8C\xA9\x82\xC2\x82\xA9\x82\xE8\x82\xDC\x82\xB9\x82\xF1...\x8FI\x97\xB9\x82\xB5\x82\xDC\x82\xB7(PMT).\n";

// 複数の映像が含まれています...処理できません(PMT).
inline constexpr char kSeveralVideoPmt[] = "\x95\xA1\x90\x94\x82\xCC\x89" "f\x91\x9C\x82\xAA\x8A\xDC\x82\xDC\x82\xEA\x82\xC4\x82\xA2\x82\xDC\x82\xB7...\x8F\x88\x97\x9D\x82\xC5\x82\xAB\x82\xDC\x82\xB9\x82\xF1(PMT).";

// 音声が見つかりません...終了します(PMT).\n
inline constexpr char kNoAudioPmt[] = "\x89\xB9\x90\xBA\x82\xAA\x8C\xA9\x82\xC2\x82\xA9\x82\xE8\x82\xDC\x82\xB9\x82\xF1...\x8FI\x97\xB9\x82\xB5\x82\xDC\x82\xB7(PMT).\n";

// 三つ以上の音声が含まれています...処理できません(PMT).
inline constexpr char kTooManyAudioPmt[] = "\x8EO\x82\xC2\x88\xC8\x8F\xE3\x82\xCC\x89\xB9\x90\xBA\x82\xAA\x8A\xDC\x82\xDC\x82\xEA\x82\xC4\x82\xA2\x82\xDC\x82\xB7...\x8F\x88\x97\x9D\x82\xC5\x82\xAB\x82\xDC\x82\xB9\x82\xF1(PMT).";

// ファイルの先頭がGOPで区切られていません...終了します.\n
inline constexpr char kNotGopStart[] = "\x83t\x83@\x83" "C\x83\x8B\x82\xCC\x90\xE6\x93\xAA\x82\xAAGOP\x82\xC5\x8B\xE6\x90\xD8\x82\xE7\x82\xEA\x82\xC4\x82\xA2\x82\xDC\x82\xB9\x82\xF1...\x8FI\x97\xB9\x82\xB5\x82\xDC\x82\xB7.\n";

// 映像がスクランブルされています...処理できません(INFO).\n
inline constexpr char kScrambledVideoInfo[] = "\x89" "f\x91\x9C\x82\xAA\x83X\x83N\x83\x89\x83\x93\x83u\x83\x8B\x82\xB3\x82\xEA\x82\xC4\x82\xA2\x82\xDC\x82\xB7...\x8F\x88\x97\x9D\x82\xC5\x82\xAB\x82\xDC\x82\xB9\x82\xF1(INFO).\n";

// PMTのCRCが一致しません...終了します(PMT).\n
inline constexpr char kBadPmtCrc[] = "PMT\x82\xCC" "CRC\x82\xAA\x88\xEA\x92v\x82\xB5\x82\xDC\x82\xB9\x82\xF1...\x8FI\x97\xB9\x82\xB5\x82\xDC\x82\xB7(PMT).\n";

// メモリの確保に失敗しました\n
inline constexpr char kMemoryAllocFailed[] = "\x83\x81\x83\x82\x83\x8A\x82\xCC\x8Am\x95\xDB\x82\xC9\x8E\xB8\x94s\x82\xB5\x82\xDC\x82\xB5\x82\xBD\n";

// The services of a multiplex, one line each, before the pass: the heading, then each stream.
// サービス %d: PCR %04x
inline constexpr char kServiceHeading[] = "\x83T\x81[\x83r\x83X %d: PCR %04x";

// サービス %d: PCRなし
inline constexpr char kServiceWithoutPcr[] = "\x83T\x81[\x83r\x83X %d: PCR\x82\xC8\x82\xB5";

//  映像 %04x(%s)
inline constexpr char kServiceVideo[] = " \x89" "f\x91\x9C %04x(%s)";

//  音声 %04x(%s)
inline constexpr char kServiceAudio[] = " \x89\xB9\x90\xBA %04x(%s)";

//  字幕 %04x
inline constexpr char kServiceCaption[] = " \x8E\x9A\x96\x8B %04x";

//  その他 %04x
inline constexpr char kServiceOther[] = " \x82\xBB\x82\xCC\x91\xBC %04x";

//  ...スクランブルされています. 巡回カウンタのみ更新します.\n
inline constexpr char kServiceScrambled[] = " ...\x83X\x83N\x83\x89\x83\x93\x83u\x83\x8B\x82\xB3\x82\xEA\x82\xC4\x82\xA2\x82\xDC\x82\xB7. \x8F\x84\x89\xF1\x83J\x83" "E\x83\x93\x83^\x82\xCC\x82\xDD\x8DX\x90V\x82\xB5\x82\xDC\x82\xB7.\n";

//  ...ストリームがありません. 巡回カウンタのみ更新します.\n
inline constexpr char kServiceWithoutStream[] = " ...\x83X\x83g\x83\x8A\x81[\x83\x80\x82\xAA\x82\xA0\x82\xE8\x82\xDC\x82\xB9\x82\xF1. \x8F\x84\x89\xF1\x83J\x83" "E\x83\x93\x83^\x82\xCC\x82\xDD\x8DX\x90V\x82\xB5\x82\xDC\x82\xB7.\n";

// サービス %d: PMTが見つかりません...巡回カウンタのみ更新します.\n
inline constexpr char kServiceWithoutPmt[] = "\x83T\x81[\x83r\x83X %d: PMT\x82\xAA\x8C\xA9\x82\xC2\x82\xA9\x82\xE8\x82\xDC\x82\xB9\x82\xF1...\x8F\x84\x89\xF1\x83J\x83" "E\x83\x93\x83^\x82\xCC\x82\xDD\x8DX\x90V\x82\xB5\x82\xDC\x82\xB7.\n";

// サービス %d: PMTのCRCが一致しません...巡回カウンタのみ更新します.\n
inline constexpr char kServiceBadPmt[] = "\x83T\x81[\x83r\x83X %d: PMT\x82\xCC" "CRC\x82\xAA\x88\xEA\x92v\x82\xB5\x82\xDC\x82\xB9\x82\xF1...\x8F\x84\x89\xF1\x83J\x83" "E\x83\x93\x83^\x82\xCC\x82\xDD\x8DX\x90V\x82\xB5\x82\xDC\x82\xB7.\n";

// リードエラー. error code %d.\n
inline constexpr char kReadError[] = "\x83\x8A\x81[\x83h\x83G\x83\x89\x81[. error code %d.\n";

// PCR,PTS,DTS 更新中　 0%% \r
inline constexpr char kRewriteProgressStart[] = "PCR,PTS,DTS \x8DX\x90V\x92\x86\x81@ 0%% \r";

// PCR,PTS,DTS 更新中　 %d%% \r
inline constexpr char kRewriteProgress[] = "PCR,PTS,DTS \x8DX\x90V\x92\x86\x81@ %d%% \r";

// PCR,PTS,DTS 更新中　 %lld MB \r
inline constexpr char kRewriteProgressMegabytes[] = "PCR,PTS,DTS \x8DX\x90V\x92\x86\x81@ %lld MB \r";

// PCR,PTS,DTS 更新完了 100%% \n
inline constexpr char kRewriteDone[] = "PCR,PTS,DTS \x8DX\x90V\x8A\xAE\x97\xB9 100%% \n";

// The bytes that the pass left as they were, as they are no packet's (lost sync, a packet cut
// short, padding), after the pass.
// パケットでない %lld バイトをそのまま書き込みました.\n
inline constexpr char kNotPacketBytes[] = "\x83p\x83P\x83" "b\x83g\x82\xC5\x82\xC8\x82\xA2 %lld \x83o\x83" "C\x83g\x82\xF0\x82\xBB\x82\xCC\x82\xDC\x82\xDC\x8F\x91\x82\xAB\x8D\x9E\x82\xDD\x82\xDC\x82\xB5\x82\xBD.\n";

// The source's packets that were errored, lost before (by their counters) and scrambled.
// エラー %lld, ドロップ %lld, スクランブル %lld パケット.\n
inline constexpr char kDamageCounted[] = "\x83G\x83\x89\x81[ %lld, \x83h\x83\x8D\x83" "b\x83v %lld, \x83X\x83N\x83\x89\x83\x93\x83u\x83\x8B %lld \x83p\x83P\x83" "b\x83g.\n";

// A signal asked the run to end; what was written before it is kept in whole blocks.
// シグナル %d を受けて中断しました.\n
inline constexpr char kInterrupted[] = "\x83V\x83O\x83i\x83\x8B %d \x82\xF0\x8E\xF3\x82\xAF\x82\xC4\x92\x86\x92" "f\x82\xB5\x82\xDC\x82\xB5\x82\xBD.\n";

// 書込みファイルオープンエラー. error code %d.\n
inline constexpr char kWriteOpenError[] = "\x8F\x91\x8D\x9E\x82\xDD\x83t\x83@\x83" "C\x83\x8B\x83I\x81[\x83v\x83\x93\x83G\x83\x89\x81[. error code %d.\n";

// データ書き込み中にエラーが発生しました. error code %d.\n
inline constexpr char kWriteError[] = "\x83" "f\x81[\x83^\x8F\x91\x82\xAB\x8D\x9E\x82\xDD\x92\x86\x82\xC9\x83G\x83\x89\x81[\x82\xAA\x94\xAD\x90\xB6\x82\xB5\x82\xDC\x82\xB5\x82\xBD. error code %d.\n";

// corvane --version: the version the packages carry.
inline constexpr char kVersion[] = "corvane %s\n";

// Usage text, printed in this order.
inline constexpr char kUsageTitle[] = "Corvane Ver3.5.16.7(32bit) Kai (fix C-PTS) r2\n\n";
inline constexpr char kUsageBody[] =
    "usage\n"
    "Corvane.exe [OPTIONS] source.ts [destination.ts]\n"
    "     [OPTIONS]\n"
    "          -nogop {on|off}     : no-check GOP start\n"
    "          -pmtcheck {on|off}  : check PMT change\n"
    "          -log {on|off}       : make log-file\n"
    "          -services {one|all} : repair every service of a multiplex\n"
    "          -status {classic|posix} : exit status for scripts\n"
    "          -report FILE        : write a JSON report of the run\n"
    "          -joints {classic|clean} : move every stream at a joint\n"
    "          -progress {text|json} : progress as JSON lines\n"
    "          -droplog FILE       : write each PID's drops to FILE\n"
    "          -plot FILE.svg      : draw each service's timeline in FILE.svg\n"
    "\n\n";

}  // namespace corvane::msg
// clang-format on
