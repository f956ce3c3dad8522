#include "output/service_facts.h"

namespace corvane {

StreamCoding codingOf(const Service& service, int pid, StreamRole role) {
  for (int i = 0; i < service.listing.count; ++i) {
    if (service.listing.streams[i].pid == pid) return service.listing.streams[i].coding;
  }
  switch (role) {
    case StreamRole::video:
      return streamCodingOf(service.pids.videoCoding);
    case StreamRole::audio:
      return StreamCoding::aac;
    case StreamRole::caption:
      return StreamCoding::caption;
    default:
      return StreamCoding::other;
  }
}

PidOwner ownerOf(const Multiplex& multiplex, int pid) {
  for (const Program& program : multiplex.programs) {
    if (program.pmtPid == pid) return {program.number, "table"};
  }
  if (const Service* service = multiplex.pids.service[pid]) {
    const ProgramPids& pids = service->pids;
    StreamRole role = containsPid(pids.video, pid)      ? StreamRole::video
                      : containsPid(pids.audio, pid)    ? StreamRole::audio
                      : containsPid(pids.captions, pid) ? StreamRole::caption
                                                        : StreamRole::other;
    return {service->programNumber, roleNames(role).key};
  }
  return {0, pid < 0x0030 ? "table" : "other"};  // PSI and SI, and the null packets
}

CountSums sumCounts(const Multiplex& multiplex, const ContinuityCounters& counters) {
  CountSums sums;
  sums.programs.resize(multiplex.programs.size());
  sums.programPackets.resize(multiplex.programs.size());
  eachSeenPid(multiplex, counters, [&](int pid, PidOwner owner) {
    sums.all += counters.counts[pid];
    sums.allPackets += counters.packets[pid];
    for (std::size_t i = 0; i < multiplex.programs.size(); ++i) {
      if (multiplex.programs[i].number != owner.program) continue;
      sums.programs[i] += counters.counts[pid];
      sums.programPackets[i] += counters.packets[pid];
      break;
    }
  });
  return sums;
}

}  // namespace corvane
