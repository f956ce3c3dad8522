// Builds transport streams for the sample recording, the benchmarks and the tests: single packets
// (PAT, PMT, PCR-only, PES starts, payload, SI and null packets) and whole broadcast-like
// recordings with a record of every timestamp put into them. Written independently of the
// tool's own readers and writers, so that tests can check the tool against it.
#pragma once

#include <cstdint>
#include <vector>

namespace corvane::streamgen {

using Bytes = std::vector<std::uint8_t>;

constexpr std::int64_t kPtsModulus = std::int64_t{1} << 33;  // 90 kHz fields are 33 bits wide

struct ProgramEntry {
  int programNumber;
  int pid;
};

struct PmtEntry {
  int streamType;
  int pid;
  Bytes descriptors;
};

// Appends one 188-byte packet each, but for a PMT too long for one, whose section goes on in the
// packets after it. `cc` is the source continuity counter.
void appendPat(Bytes& out, const std::vector<ProgramEntry>& programs, int cc = 0);
void appendPmt(Bytes& out, int pmtPid, int pcrPid, const std::vector<PmtEntry>& streams, int cc = 0,
               const Bytes& programDescriptors = {}, int programNumber = 0x0408);
void appendPcrOnly(Bytes& out, int pid, std::int64_t pcr, int cc = 0);

struct PesStart {
  int pid = 0x0111;
  int streamId = 0xE0;
  std::int64_t pts = 0;
  std::int64_t dts = -1;  // -1: no DTS
  bool withPts = true;
  int adaptationLength = -1;  // -1: no adaptation field
  std::int64_t pcr = -1;      // -1: no PCR (needs an adaptation field of 7 or more)
  bool unitStart = true;
  int cc = 0;
  bool randomAccess = false;  // random_access_indicator (needs an adaptation field of 1 or more)
  Bytes payload;              // the first bytes behind the PES header, such as NAL units
};
void appendPesStart(Bytes& out, const PesStart& pes);

// A continuation packet of a PES (payload only, no unit start).
void appendPayload(Bytes& out, int pid, int cc = 0, std::uint8_t fill = 0xA5);
// A packet of another table (an EIT section on PID 0x0012 by default).
void appendSiPacket(Bytes& out, int pid = 0x0012, int cc = 0);
void appendNull(Bytes& out);

// Reception damage, laid over a stream in place, at packet indices.
// Flags `count` packets from `first` on as errored (transport_error_indicator) and garbles their
// bytes behind the header, as errors that the demodulator could not correct leave them. The
// header keeps its PID, control bits and counter.
void markErrored(Bytes& stream, std::int64_t first, int count, std::uint32_t seed);
// Shrinks the adaptation field of a packet to `length` bytes (1 to 6) and keeps its flags, so that
// a PCR it flags has no room any more.
void shortenAdaptationField(Bytes& stream, std::int64_t packet, int length);
// A continuation packet (payload_unit_start_indicator clear) on the PMT PID whose bytes 5 and 6
// happen to read as the start of a PMT section, one that lists no audio.
void appendStrayPmtContinuation(Bytes& out, int pmtPid, int cc = 0);

// Sets transport_scrambling_control (to 10) on every packet of `pid`.
void scramblePid(Bytes& stream, int pid);

// Encodes a 33-bit value into a 5-byte PTS/DTS field with the given prefix nibble.
void encodeTimestamp(std::uint8_t* field, int prefix, std::int64_t value);
std::int64_t decodeTimestamp(const std::uint8_t* field);
// PCR of bytes 6..11 as base x 300 + extension.
std::int64_t decodePcr(const std::uint8_t* packet);

// The PIDs of the generated service.
constexpr int kPmtPid = 0x01F0;
constexpr int kVideoPid = 0x0111;
constexpr int kAudio1Pid = 0x0112;
constexpr int kAudio2Pid = 0x0113;
constexpr int kCaptionPid = 0x0130;
constexpr int kPcrPid = 0x01FF;

// The program number and PIDs of a generated service.
struct ServicePids {
  int programNumber = 0x0408;
  int pmt = kPmtPid;
  int video = kVideoPid;
  int audio1 = kAudio1Pid;
  int audio2 = kAudio2Pid;
  int caption = kCaptionPid;
  int pcr = kPcrPid;  // unless the PCR is on the video PID
};

// The PIDs of the n-th service of a generated multiplex (n from 0): program 0x0400 + 8n, PMT
// 0x1F00 + n, and with b = 0x0100 (n + 1) video b + 0x11, audio b + 0x12 and b + 0x13, captions
// b + 0x30 and PCR b + 0xFF.
ServicePids multiplexServicePids(int n);

// A jump of the source clock at a program time, in 90 kHz ticks.
struct Jump {
  std::int64_t atTime;  // program time; the jump happens at the first GOP start from there on
  std::int64_t delta;   // added to the source clock
};

struct RecordingOptions {
  std::int64_t durationTicks = 60 * 90000;
  std::int64_t sourceStart = kPtsModulus - 20 * 90000;  // source clock at program time 0
  std::vector<Jump> jumps;
  bool pcrOnVideoPid = false;
  int videoPacketsPerFrame = 4;  // PES start included
  int gopLength = 15;            // frames; every third frame is a reference picture
  // From this program time on (at a GOP start), the PMT lists these audio PIDs instead of the
  // two usual ones, and the audio streams move to them (none: the PMT loses its audio).
  std::int64_t pmtChangeAt = -1;
  std::vector<int> audioPidsAfterChange;
  // 0x02 MPEG-2; 0x1B H.264 or 0x24 HEVC, whose PES begin with NAL units: an access unit
  // delimiter, and at a GOP start parameter sets and an IDR (IRAP) slice, else a trailing slice.
  int videoStreamType = 0x02;
  // Without B-frames every picture is presented as it is decoded: its PES carries no DTS.
  bool bFrames = true;
  // Jumps happen at the first frame from their time on, also inside a GOP, as where a recording
  // was cut and joined.
  bool jumpsMidGop = false;
  // Audio frames are sent this many ticks ahead of the video of their time.
  std::int64_t audioLead = 0;
  // Each frame's PCR (on its own PID), audio and captions are sent before its picture, but for
  // the first: a recording still begins with a GOP start.
  bool videoLast = false;
  ServicePids pids;
};

struct PesRecord {
  std::int64_t packet;  // index of the packet in the stream
  int pid;
  std::int64_t pts;         // source values, 33 bits
  std::int64_t dts;         // -1: none
  std::int64_t programPts;  // the same PTS on the continuous program timeline
  int segment;              // how many jumps came before it
  bool wrapped;             // the source clock has passed 2^33 within this segment
};

struct PcrRecord {
  std::int64_t packet;
  int pid;
  std::int64_t pcr;         // source value, 27 MHz
  std::int64_t programPcr;  // 27 MHz on the continuous program timeline
  int segment;
  bool wrapped;
};

struct Recording {
  Bytes bytes;
  std::vector<PesRecord> pes;
  std::vector<PcrRecord> pcrs;
  // The packet of the first picture in the jump test after each jump: MPEG-2, the first with a
  // DTS; H.264 and HEVC, the first.
  std::vector<std::int64_t> jointPackets;
};

// A broadcast-like recording: PAT, PMT (video, two AAC audio streams, one caption
// stream), PCR on its own PID or on the video PID, GOPs of reference pictures with PTS and DTS
// and B pictures with PTS only, audio frames, captions, SI and null packets. It begins with PAT,
// PMT and a GOP start, and its source clock follows options.jumps.
Recording makeRecording(const RecordingOptions& options);

// A multiplex of several recordings, each a service with PIDs of its own: their packets
// interleaved at random, each recording's in its own order, and every PAT packet naming all the
// programs.
Bytes interleave(const std::vector<const Recording*>& services,
                 const std::vector<ProgramEntry>& programs, std::uint32_t seed);

// The sample: one minute, a 33-bit wrap at about 20 s, a forward jump of ten minutes at about
// 35 s and a backward jump of five minutes at about 50 s.
RecordingOptions sampleOptions();

}  // namespace corvane::streamgen
