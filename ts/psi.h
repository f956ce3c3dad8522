// Readers of the program tables: the PAT, which names each program's PMT PID, and a PMT, which
// names a program's PCR PID and streams. They read one section, only as far as its bytes go, and
// add what it lists; whether that makes a program the tool can repair is the caller's to judge.
#pragma once

#include <cstdint>

#include "ts/packet.h"
#include "ts/pid_list.h"
#include "ts/section.h"

namespace corvane {

// How the video stream is coded, from its stream_type in the PMT: 0x02, 0x1B or 0x24; none for a
// program without video, such as a radio service.
enum class VideoCoding : std::uint8_t { mpeg2, h264, hevc, none };

// A program's PIDs as its PMTs list them.
struct ProgramPids {
  PidList pcr;
  PidList video;
  // AAC in ADTS (stream_type 0x0F); read for a whole multiplex, every audio coding
  PidList audio;
  // stream_type 0x06 with component_tag 0x30, which broadcasters give the caption stream
  PidList captions;
  // Read for a whole multiplex only: every other stream that may carry PES with a PTS, such as
  // superimposed text, subtitles and teletext.
  PidList others;
  VideoCoding videoCoding = VideoCoding::mpeg2;  // as the last PMT read gave it
  // The stream whose PES the jump test follows: the video of one service; for a service of a
  // multiplex the first video stream it repairs, or without one its first audio stream (its
  // multiplex sets it); -1 for none.
  int anchor = -1;

  friend bool operator==(const ProgramPids&, const ProgramPids&) = default;
};

// What a stream of a PMT carries, as the console names it.
enum class StreamCoding : std::uint8_t {
  mpeg2Video,
  h264,
  hevc,
  mpeg1Audio,
  mpeg2Audio,
  aac,
  aacLatm,
  ac3,
  eac3,
  dts,
  caption,
  other,
};

// The names of a coding: the report's ("mpeg2-video") and the console's ("MPEG-2"; empty for
// captions and other streams, which the console names by their kind).
struct CodingNames {
  const char* key;
  const char* label;
};
CodingNames codingNames(StreamCoding coding);

inline bool isVideoCoding(StreamCoding coding) {
  return coding == StreamCoding::mpeg2Video || coding == StreamCoding::h264 ||
         coding == StreamCoding::hevc;
}
// Audio: every coding besides the video ones, captions and other streams.
inline bool isAudioCoding(StreamCoding coding) {
  return !isVideoCoding(coding) && coding != StreamCoding::caption && coding != StreamCoding::other;
}

// The video coding of a video stream, and back.
inline VideoCoding videoCodingOf(StreamCoding coding) {
  return coding == StreamCoding::h264   ? VideoCoding::h264
         : coding == StreamCoding::hevc ? VideoCoding::hevc
                                        : VideoCoding::mpeg2;
}
inline StreamCoding streamCodingOf(VideoCoding coding) {
  return coding == VideoCoding::h264   ? StreamCoding::h264
         : coding == VideoCoding::hevc ? StreamCoding::hevc
                                       : StreamCoding::mpeg2Video;
}

// The streams of the last PMT read, in the order it lists them; a section in one packet holds at
// most 33 of them.
constexpr int kMaxListedStreams = 34;
struct StreamListing {
  struct Entry {
    std::uint16_t pid;
    StreamCoding coding;
  };
  Entry streams[kMaxListedStreams];
  int count = 0;
};

// Which streams a PMT reading takes: those of the one-service repair (MPEG-2, H.264 and HEVC
// video, AAC audio in ADTS, ARIB captions), or every stream of a service in a multiplex.
enum class PmtStreams : std::uint8_t { oneService, anyStream };

// The section that a packet starts, as a one-service recording's tables are read: at byte 5,
// behind a zero pointer_field, as far as the packet goes.
inline Section sectionIn(const std::uint8_t* packet) {
  return Section{packet + 5, kPacketSize - 5};
}

// Calls visit(program_number, program_map_PID) for each program of the PAT section; the network
// PID (program_number 0) is no program. Entries are read only where all four bytes are there.
template <class Visit>
void forEachPatProgram(Section section, Visit visit) {
  // section_length counts the 5 bytes behind it and the CRC_32 too
  int entryBytes = sectionLengthOf(section.bytes) - 9;
  for (int j = 0; j < entryBytes && 8 + j + 4 <= section.size; j += 4) {
    const std::uint8_t* entry = section.bytes + 8 + j;
    int programNumber = entry[0] << 8 | entry[1];
    if (programNumber != 0) visit(programNumber, (entry[2] & 0x1F) << 8 | entry[3]);
  }
}

// Adds the PMT PID of each program of the PAT section.
void readPat(Section section, PidList& pmtPids);

// The program_number of a PMT section.
inline int pmtProgramNumber(Section section) { return section.bytes[3] << 8 | section.bytes[4]; }

// Adds the PCR PID and the streams of the PMT section, and for one service the video's coding.
// With `anyStream`, PIDs below 0x0010 (the tables) and the null PID are no streams, and
// `listing`, when given, receives the streams with their codings.
void readPmt(Section section, ProgramPids& pids, PmtStreams streams = PmtStreams::oneService,
             StreamListing* listing = nullptr);

}  // namespace corvane
