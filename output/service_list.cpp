#include "output/service_list.h"

#include "output/console.h"
#include "output/messages.h"

namespace corvane {

namespace {

const char* codingName(StreamCoding coding) {
  switch (coding) {
    case StreamCoding::mpeg2Video:
      return "MPEG-2";
    case StreamCoding::h264:
      return "H.264";
    case StreamCoding::hevc:
      return "HEVC";
    case StreamCoding::mpeg1Audio:
      return "MPEG-1";
    case StreamCoding::mpeg2Audio:
      return "MPEG-2";
    case StreamCoding::aac:
      return "AAC";
    case StreamCoding::aacLatm:
      return "AAC-LATM";
    case StreamCoding::ac3:
      return "AC-3";
    case StreamCoding::eac3:
      return "E-AC-3";
    case StreamCoding::dts:
      return "DTS";
    case StreamCoding::caption:
    case StreamCoding::other:
      break;
  }
  return "";
}

void printStream(const StreamListing::Entry& stream) {
  unsigned pid = stream.pid;
  switch (stream.coding) {
    case StreamCoding::mpeg2Video:
    case StreamCoding::h264:
    case StreamCoding::hevc:
      printOut(msg::kServiceVideo, pid, codingName(stream.coding));  //  映像 %04x(%s)
      return;
    case StreamCoding::caption:
      printOut(msg::kServiceCaption, pid);  //  字幕 %04x
      return;
    case StreamCoding::other:
      printOut(msg::kServiceOther, pid);  //  その他 %04x
      return;
    default:
      printOut(msg::kServiceAudio, pid, codingName(stream.coding));  //  音声 %04x(%s)
      return;
  }
}

}  // namespace

void printServices(const Multiplex& multiplex) {
  for (const Program& program : multiplex.programs) {
    const Service* service = program.service.get();
    if (service == nullptr) {
      // サービス %d: PMTのCRCが一致しません...巡回カウンタのみ更新します.
      // サービス %d: PMTが見つかりません...巡回カウンタのみ更新します.
      printOut(program.badPmt ? msg::kServiceBadPmt : msg::kServiceWithoutPmt, program.number);
      continue;
    }
    if (withoutPcr(*service)) {
      printOut(msg::kServiceWithoutPcr, program.number);  // サービス %d: PCRなし
    } else {
      // サービス %d: PCR %04x
      printOut(msg::kServiceHeading, program.number,
               static_cast<unsigned>(nextPid(service->pids.pcr, -1)));
    }
    const StreamListing& listing = service->listing;
    for (int i = 0; i < listing.count; ++i) printStream(listing.streams[i]);
    if (!service->countersOnly) {
      writeOut("\n");
    } else if (service->anchorSeen) {
      // ...スクランブルされています. 巡回カウンタのみ更新します.
      writeOut(msg::kServiceScrambled);
    } else {
      writeOut(
          msg::kServiceWithoutStream);  // ...ストリームがありません. 巡回カウンタのみ更新します.
    }
  }
}

}  // namespace corvane
