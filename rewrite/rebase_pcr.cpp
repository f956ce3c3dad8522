#include "rewrite/rebase.h"
#include "stream/timestamp.h"

namespace corvane {

void rebasePcr(StreamContext& context, std::uint8_t* packet) {
  context.srcPcr = readPcr(packet);
  context.outPcr = context.srcPcr - context.ptsOffset * 300;
  // PCRs still on the timeline left at the last joint or wrap keep the offset of that timeline.
  if (context.outPcr > kMaxPcr) context.outPcr = context.srcPcr - context.prevPtsOffset * 300;
  writePcr(packet, context.outPcr);
  TimeLog& log = context.run.timeLog;
  if (log.stream == nullptr) return;
  writeLog(log, "PCR   : %13lld, %13lld, %13lld, %13lld\r\n",
           static_cast<long long>(context.srcPcr), static_cast<long long>(context.srcPcr / 300),
           static_cast<long long>(context.ptsOffset), static_cast<long long>(context.outPcr / 300));
}

}  // namespace corvane
