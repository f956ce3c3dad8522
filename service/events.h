// What the rules did, as data. The rules report each thing they did to one sink; the time log,
// the progress lines and anything else that tells of a run read the events there, and the rules
// themselves write no text.
#pragma once

#include <cstdint>

namespace corvane {

enum class EventKind : std::uint8_t {
  pcrRebased,      // pid, source and value in 27 MHz, ptsOffset
  pesRebased,      // a PES outside the jump test: pid, role, source PTS, ptsOffset, value
  jumpTestPes,     // a PES in the jump test: pid, source (its time), previous, ptsOffset
  joint,           // the jump test joined a new stretch: source, previous, ptsOffset, prevPtsOffset
  wrap,            // the source clock wrapped at 2^33: source, previous, ptsOffset, prevPtsOffset
  pidChanged,      // a PMT re-read changed a PID: role, previous (old PID), value (new PID)
  randomAccess,    // the service's video begins its first picture that a start may be: pid
  packetCounted,   // a packet that progress counts, one that a rule rewrote
  erroredPacket,   // transport_error_indicator set: renumbered only
  pcrWithoutRoom,  // a PCR flagged in an adaptation field too short for it
  straySection,    // a packet on a PMT PID that reads as a section but does not start one
  cutOffEnd,       // the source ends inside a packet: value, the bytes of that packet
  syncLost,        // bytes that are not packets, where the grid was lost: value, the bytes
  badSection,      // a PAT or PMT section failed its CRC_32 or was cut short: pid
  // Clean joints: a stream jumped, and its service's joint picture did not come within the
  // look-ahead: pid, source (its new value)
  unjoinedStretch,
  // The source lost packets of a PID before this one, by its continuity counter: value, the
  // packet's counter; previous, the counter that was due
  drop,
};

// The stream a PES or a PID change is about.
// Other: a stream of a multiplex's service that is neither video, audio nor captions.
enum class StreamRole : std::uint8_t { pcr, video, audio, caption, other };

// The names of a role: the report's ("video"), and the time log's in its PID change lines
// ("VIDEOPID   ", with the blanks up to the colon) and its PES lines ("V-PTS").
struct RoleNames {
  const char* key;
  const char* logPid;
  const char* logPes;
};
inline RoleNames roleNames(StreamRole role) {
  switch (role) {
    case StreamRole::pcr:
      return {"pcr", "PCRPID     ", "O-PTS"};
    case StreamRole::video:
      return {"video", "VIDEOPID   ", "V-PTS"};
    case StreamRole::audio:
      return {"audio", "AUDIOPID  ", "A-PTS"};
    case StreamRole::caption:
      return {"caption", "CAPTIONPID  ", "C-PTS"};
    case StreamRole::other:
      break;
  }
  return {"other", "OTHERPID    ", "O-PTS"};
}

// The fields an event kind does not name above are 0. Timestamps and offsets are 90 kHz ticks
// unless the kind says otherwise. A PID change names a PID that is not there as 0.
struct Event {
  EventKind kind;
  StreamRole role = StreamRole::video;
  int pid = 0;
  int program = 0;          // the program_number of the service it is about; 0 for none
  std::int64_t offset = 0;  // the source offset of the packet, in bytes
  std::int64_t packet = 0;  // the packet's index among the source's packets
  std::int64_t source = 0;
  std::int64_t value = 0;
  std::int64_t previous = 0;
  std::int64_t ptsOffset = 0;
  std::int64_t prevPtsOffset = 0;
};

// Where the rules are when they report: the packet, and the service they work for (program 0
// for none).
struct PacketPlace {
  std::int64_t offset;
  std::int64_t index;
  int program;
};

// Where the rules report to.
struct EventSink {
  void (*receive)(const EventSink& sink, const Event& event);
  void* outputs = nullptr;
};

inline void emit(const EventSink& sink, const PacketPlace& at, Event event) {
  event.offset = at.offset;
  event.packet = at.index;
  event.program = at.program;
  sink.receive(sink, event);
}

// A sink that drops every event.
inline void dropEvent(const EventSink&, const Event&) {}

}  // namespace corvane
