// Readers of the program tables: the PAT, which names each program's PMT PID, and a PMT, which
// names a program's PCR PID and streams. They read one section that starts in the packet, only
// as far as the packet holds it, and add what it lists; whether that makes a program the tool
// can repair is the caller's to judge.
#pragma once

#include <cstdint>

#include "ts/pid_list.h"

namespace corvane {

// How the video stream is coded, from its stream_type in the PMT: 0x02, 0x1B or 0x24.
enum class VideoCoding : std::uint8_t { mpeg2, h264, hevc };

// A program's PIDs as its PMTs list them.
struct ProgramPids {
  PidList pcr;
  PidList video;
  PidList audio;  // AAC in ADTS (stream_type 0x0F)
  // stream_type 0x06 with component_tag 0x30, which broadcasters give the caption stream
  PidList captions;
  VideoCoding videoCoding = VideoCoding::mpeg2;  // as the last PMT read gave it
};

// Adds the PMT PID of each program of the PAT section in the packet; the network PID
// (program_number 0) is no program.
void readPat(const std::uint8_t* packet, PidList& pmtPids);

// Adds the PCR PID and the video, audio and caption streams of the PMT section in the packet.
void readPmt(const std::uint8_t* packet, ProgramPids& pids);

}  // namespace corvane
