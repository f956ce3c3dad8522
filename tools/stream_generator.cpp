#include "tools/stream_generator.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <utility>

namespace corvane::streamgen {

namespace {

constexpr int kPacket = 188;
constexpr std::int64_t kFrameTicks = 3003;          // 29.97 frames per second
constexpr std::int64_t kAudioTicks = 1920;          // 1,024 AAC samples at 48 kHz
constexpr std::int64_t kPresentationDelay = 45000;  // PTS run 0.5 s ahead of the PCR

std::uint8_t* newPacket(Bytes& out, int pid, bool unitStart, int control, int cc) {
  out.resize(out.size() + kPacket, 0xFF);
  std::uint8_t* p = out.data() + out.size() - kPacket;
  p[0] = 0x47;
  p[1] = static_cast<std::uint8_t>((unitStart ? 0x40 : 0) | ((pid >> 8) & 0x1F));
  p[2] = static_cast<std::uint8_t>(pid & 0xFF);
  p[3] = static_cast<std::uint8_t>(control << 4 | (cc & 0x0F));
  return p;
}

std::uint32_t crc32Mpeg(const std::uint8_t* data, std::size_t size) {
  std::uint32_t crc = 0xFFFFFFFF;
  for (std::size_t i = 0; i < size; ++i) {
    crc ^= std::uint32_t{data[i]} << 24;
    for (int bit = 0; bit < 8; ++bit) {
      crc = (crc & 0x80000000) ? (crc << 1) ^ 0x04C11DB7 : crc << 1;
    }
  }
  return crc;
}

// Writes a section (from table_id to before the CRC) behind a zero pointer_field, with its CRC.
void putSection(std::uint8_t* packet, const Bytes& section) {
  packet[4] = 0x00;
  std::memcpy(packet + 5, section.data(), section.size());
  std::uint32_t crc = crc32Mpeg(section.data(), section.size());
  std::uint8_t* tail = packet + 5 + section.size();
  tail[0] = static_cast<std::uint8_t>(crc >> 24);
  tail[1] = static_cast<std::uint8_t>(crc >> 16);
  tail[2] = static_cast<std::uint8_t>(crc >> 8);
  tail[3] = static_cast<std::uint8_t>(crc);
}

// Bytes that look like compressed data: the same noise on every system for the same seed, and
// never the sync byte's value, which such data holds as rarely as any other.
void putNoise(std::uint8_t* bytes, int count, std::uint32_t seed) {
  std::uint32_t noise = seed | 1;
  for (int i = 0; i < count; ++i) {
    noise ^= noise << 13;  // xorshift32
    noise ^= noise >> 17;
    noise ^= noise << 5;
    auto byte = static_cast<std::uint8_t>(noise >> 24);
    bytes[i] = byte == 0x47 ? 0x48 : byte;
  }
}

void putPcr(std::uint8_t* packet, std::int64_t pcr) {
  std::int64_t base = pcr / 300 % kPtsModulus;
  std::int64_t extension = pcr % 300;
  packet[6] = static_cast<std::uint8_t>(base >> 25);
  packet[7] = static_cast<std::uint8_t>(base >> 17);
  packet[8] = static_cast<std::uint8_t>(base >> 9);
  packet[9] = static_cast<std::uint8_t>(base >> 1);
  packet[10] = static_cast<std::uint8_t>((base & 1) << 7 | 0x7E | extension >> 8);
  packet[11] = static_cast<std::uint8_t>(extension);
}

std::int64_t wrap33(std::int64_t value) {
  value %= kPtsModulus;
  return value < 0 ? value + kPtsModulus : value;
}

// A 16-bit field, high byte first.
void appendField(Bytes& section, int value) {
  section.push_back(static_cast<std::uint8_t>(value >> 8));
  section.push_back(static_cast<std::uint8_t>(value));
}

// The first eight bytes of a long-form section: table_id, section_length behind the syntax
// indicator and reserved bits, the table id extension, version 0 current, section 0 of 0.
Bytes sectionStart(int tableId, int length, int extension) {
  Bytes section = {static_cast<std::uint8_t>(tableId)};
  appendField(section, 0xB000 | length);
  appendField(section, extension);
  section.insert(section.end(), {0xC1, 0x00, 0x00});
  return section;
}

// The first NAL units of a picture's PES, with four-byte start codes.
Bytes videoNalUnits(int streamType, bool gopStart) {
  Bytes units;
  auto add = [&units](std::initializer_list<std::uint8_t> unit) {
    constexpr std::uint8_t kStartCode[] = {0x00, 0x00, 0x00, 0x01};
    for (std::uint8_t byte : kStartCode) units.push_back(byte);
    for (std::uint8_t byte : unit) units.push_back(byte);
  };
  if (streamType == 0x1B) {
    add({0x09, 0xF0});  // access unit delimiter: any slice type
    if (gopStart) {
      add({0x67, 0x64, 0x00, 0x28, 0xAC});  // sequence and picture parameter sets
      add({0x68, 0xEE, 0x3C, 0x80});
    }
    add({static_cast<std::uint8_t>(gopStart ? 0x65 : 0x41), 0x88, 0x84});
  } else {
    add({0x46, 0x01, 0x50});  // HEVC: access unit delimiter, pic_type 2
    if (gopStart) {
      add({0x40, 0x01, 0x0C});  // video, sequence and picture parameter sets
      add({0x42, 0x01, 0x01});
      add({0x44, 0x01, 0xC1});
    }
    add({static_cast<std::uint8_t>(gopStart ? 0x26 : 0x02), 0x01, 0xAF});  // IDR_W_RADL, TRAIL_R
  }
  return units;
}

}  // namespace

void encodeTimestamp(std::uint8_t* field, int prefix, std::int64_t value) {
  std::uint64_t v = static_cast<std::uint64_t>(wrap33(value));
  field[0] = static_cast<std::uint8_t>(prefix << 4 | ((v >> 30) & 0x07) << 1 | 1);
  field[1] = static_cast<std::uint8_t>(v >> 22);
  field[2] = static_cast<std::uint8_t>(((v >> 15) & 0x7F) << 1 | 1);
  field[3] = static_cast<std::uint8_t>(v >> 7);
  field[4] = static_cast<std::uint8_t>((v & 0x7F) << 1 | 1);
}

std::int64_t decodeTimestamp(const std::uint8_t* field) {
  return std::int64_t{(field[0] >> 1) & 0x07} << 30 | std::int64_t{field[1]} << 22 |
         std::int64_t{field[2] >> 1} << 15 | std::int64_t{field[3]} << 7 | field[4] >> 1;
}

std::int64_t decodePcr(const std::uint8_t* packet) {
  std::int64_t base = std::int64_t{packet[6]} << 25 | std::int64_t{packet[7]} << 17 |
                      std::int64_t{packet[8]} << 9 | std::int64_t{packet[9]} << 1 | packet[10] >> 7;
  return base * 300 + ((packet[10] & 1) << 8 | packet[11]);
}

void appendPat(Bytes& out, const std::vector<ProgramEntry>& programs, int cc) {
  std::uint8_t* p = newPacket(out, 0x0000, true, 0x1, cc);
  int length = 9 + 4 * static_cast<int>(programs.size());
  Bytes section = sectionStart(0x00, length, 0x7FE1);  // transport_stream_id 0x7FE1
  for (const ProgramEntry& program : programs) {
    section.push_back(static_cast<std::uint8_t>(program.programNumber >> 8));
    section.push_back(static_cast<std::uint8_t>(program.programNumber));
    section.push_back(static_cast<std::uint8_t>(0xE0 | program.pid >> 8));
    section.push_back(static_cast<std::uint8_t>(program.pid));
  }
  putSection(p, section);
}

void appendPmt(Bytes& out, int pmtPid, int pcrPid, const std::vector<PmtEntry>& streams, int cc,
               const Bytes& programDescriptors, int programNumber) {
  std::uint8_t* p = newPacket(out, pmtPid, true, 0x1, cc);
  int infoLength = static_cast<int>(programDescriptors.size());
  int entries = 0;
  for (const PmtEntry& stream : streams) entries += 5 + static_cast<int>(stream.descriptors.size());
  int length = 13 + infoLength + entries;
  Bytes section = sectionStart(0x02, length, programNumber);
  appendField(section, 0xE000 | pcrPid);
  appendField(section, 0xF000 | infoLength);
  section.insert(section.end(), programDescriptors.begin(), programDescriptors.end());
  for (const PmtEntry& stream : streams) {
    int esLength = static_cast<int>(stream.descriptors.size());
    section.push_back(static_cast<std::uint8_t>(stream.streamType));
    section.push_back(static_cast<std::uint8_t>(0xE0 | stream.pid >> 8));
    section.push_back(static_cast<std::uint8_t>(stream.pid));
    section.push_back(static_cast<std::uint8_t>(0xF0 | esLength >> 8));
    section.push_back(static_cast<std::uint8_t>(esLength));
    section.insert(section.end(), stream.descriptors.begin(), stream.descriptors.end());
  }
  if (section.size() <= kPacket - 9) {
    putSection(p, section);
    return;
  }
  // A section that does not fit goes on in the packets after, each with the next counter; the
  // last one's rest is stuffing.
  std::uint32_t crc = crc32Mpeg(section.data(), section.size());
  for (int shift = 24; shift >= 0; shift -= 8)
    section.push_back(static_cast<std::uint8_t>(crc >> shift));
  p[4] = 0x00;
  std::size_t at = std::min<std::size_t>(section.size(), kPacket - 5);
  std::memcpy(p + 5, section.data(), at);
  for (int next = cc + 1; at < section.size(); ++next) {
    std::uint8_t* more = newPacket(out, pmtPid, false, 0x1, next);
    std::size_t count = std::min<std::size_t>(section.size() - at, kPacket - 4);
    std::memcpy(more + 4, section.data() + at, count);
    at += count;
  }
}

void appendPcrOnly(Bytes& out, int pid, std::int64_t pcr, int cc) {
  std::uint8_t* p = newPacket(out, pid, false, 0x2, cc);
  p[4] = 183;
  p[5] = 0x10;
  putPcr(p, pcr);
}

void appendPesStart(Bytes& out, const PesStart& pes) {
  bool adaptation = pes.adaptationLength >= 0;
  std::uint8_t* p = newPacket(out, pes.pid, pes.unitStart, adaptation ? 0x3 : 0x1, pes.cc);
  int o = 0;
  if (adaptation) {
    p[4] = static_cast<std::uint8_t>(pes.adaptationLength);
    if (pes.adaptationLength > 0) p[5] = 0x00;
    if (pes.pcr >= 0) {
      p[5] = 0x10;
      putPcr(p, pes.pcr);
    }
    if (pes.randomAccess) p[5] |= 0x40;
    o = pes.adaptationLength + 1;
  }
  // Header bytes that would pass the packet's end are left out, as in a damaged recording.
  Bytes header = {0x00, 0x00, 0x01, static_cast<std::uint8_t>(pes.streamId), 0x00, 0x00, 0x80};
  bool withDts = pes.dts >= 0;
  header.push_back(static_cast<std::uint8_t>(!pes.withPts ? 0x00 : withDts ? 0xC0 : 0x80));
  header.push_back(static_cast<std::uint8_t>(!pes.withPts ? 0 : withDts ? 10 : 5));
  if (pes.withPts) {
    std::uint8_t field[5];
    encodeTimestamp(field, withDts ? 0x3 : 0x2, pes.pts);
    header.insert(header.end(), field, field + 5);
    if (withDts) {
      encodeTimestamp(field, 0x1, pes.dts);
      header.insert(header.end(), field, field + 5);
    }
  }
  header.insert(header.end(), pes.payload.begin(), pes.payload.end());
  for (std::size_t i = 0; i < header.size() && 4 + o + static_cast<int>(i) < kPacket; ++i) {
    p[4 + o + i] = header[i];
  }
  int filled = 4 + o + static_cast<int>(header.size());
  if (filled < kPacket) {
    putNoise(p + filled, kPacket - filled, static_cast<std::uint32_t>(pes.pts * 31 + pes.pid));
  }
}

void appendPayload(Bytes& out, int pid, int cc, std::uint8_t fill) {
  std::uint8_t* p = newPacket(out, pid, false, 0x1, cc);
  std::memset(p + 4, fill, kPacket - 4);
}

void appendSiPacket(Bytes& out, int pid, int cc) {
  std::uint8_t* p = newPacket(out, pid, true, 0x1, cc);
  Bytes section = {0x4E, 0xF0, 0x11, 0x04, 0x08, 0xC1, 0x00, 0x00,
                   0x7F, 0xE1, 0x00, 0x04, 0x01, 0x4E, 0x00};
  putSection(p, section);
}

void appendNull(Bytes& out) {
  std::uint8_t* p = newPacket(out, 0x1FFF, false, 0x1, 0);
  std::memset(p + 4, 0xFF, kPacket - 4);
}

void markErrored(Bytes& stream, std::int64_t first, int count, std::uint32_t seed) {
  std::uint32_t noise = seed | 1;
  for (std::int64_t packet = first; packet < first + count; ++packet) {
    std::uint8_t* p = stream.data() + packet * kPacket;
    p[1] |= 0x80;
    for (int i = 4; i < kPacket; ++i) {
      noise ^= noise << 13;  // xorshift32: the same noise on every system
      noise ^= noise >> 17;
      noise ^= noise << 5;
      p[i] = static_cast<std::uint8_t>(noise);
    }
  }
}

void shortenAdaptationField(Bytes& stream, std::int64_t packet, int length) {
  stream[static_cast<std::size_t>(packet * kPacket + 4)] = static_cast<std::uint8_t>(length);
}

void appendStrayPmtContinuation(Bytes& out, int pmtPid, int cc) {
  appendPmt(out, pmtPid, kPcrPid, {{0x02, kVideoPid, {}}}, cc);
  out[out.size() - kPacket + 1] &= 0xBF;  // payload_unit_start_indicator clear
}

Bytes interleave(const std::vector<const Recording*>& services,
                 const std::vector<ProgramEntry>& programs, std::uint32_t seed) {
  Bytes out;
  std::vector<std::size_t> next(services.size(), 0);
  std::size_t left = 0;
  for (const Recording* service : services) left += service->bytes.size() / kPacket;
  std::uint32_t noise = seed | 1;
  for (; left > 0; --left) {
    noise ^= noise << 13;  // xorshift32, the same on every system
    noise ^= noise >> 17;
    noise ^= noise << 5;
    // Each recording is taken in proportion to the packets it has left, so that all end together.
    std::size_t pick = noise % left;
    std::size_t k = 0;
    for (;; ++k) {
      std::size_t remaining = services[k]->bytes.size() / kPacket - next[k];
      if (pick < remaining) break;
      pick -= remaining;
    }
    const std::uint8_t* packet = services[k]->bytes.data() + next[k]++ * kPacket;
    if (((packet[1] & 0x1F) << 8 | packet[2]) == 0) {
      appendPat(out, programs, packet[3] & 0x0F);
    } else {
      out.insert(out.end(), packet, packet + kPacket);
    }
  }
  return out;
}

ServicePids multiplexServicePids(int n) {
  int base = 0x0100 * (n + 1);
  return ServicePids{0x0400 + 8 * n, 0x1F00 + n,  base + 0x11, base + 0x12,
                     base + 0x13,    base + 0x30, base + 0xFF};
}

void scramblePid(Bytes& stream, int pid) {
  for (std::size_t at = 0; at + kPacket <= stream.size(); at += kPacket) {
    if (((stream[at + 1] & 0x1F) << 8 | stream[at + 2]) == pid) stream[at + 3] |= 0x80;
  }
}

RecordingOptions sampleOptions() {
  RecordingOptions options;
  options.jumps = {{35 * 90000, 600 * 90000}, {50 * 90000, -300 * 90000}};
  return options;
}

Recording makeRecording(const RecordingOptions& options) {
  Recording recording;
  Bytes& out = recording.bytes;
  std::array<int, 8192> cc{};
  for (int pid = 0; pid < 8192; ++pid) cc[pid] = (pid * 7 + 3) & 0x0F;  // any start will do
  auto nextCc = [&cc](int pid) { return cc[pid] = (cc[pid] + 1) & 0x0F; };
  auto packetIndex = [&out]() { return static_cast<std::int64_t>(out.size() / kPacket); };

  const Bytes videoTag = {0x52, 0x01, 0x00};
  const ServicePids& pids = options.pids;
  std::vector<int> audioPids = {pids.audio1, pids.audio2};
  const int pcrPid = options.pcrOnVideoPid ? pids.video : pids.pcr;
  auto tables = [&]() {
    std::vector<PmtEntry> streams = {{options.videoStreamType, pids.video, videoTag}};
    for (std::size_t i = 0; i < audioPids.size(); ++i) {
      streams.push_back({0x0F, audioPids[i], {0x52, 0x01, static_cast<std::uint8_t>(0x10 + i)}});
    }
    streams.push_back({0x06, pids.caption, {0x52, 0x01, 0x30, 0xFD, 0x03, 0x00, 0x08, 0x3D}});
    appendPat(out, {{0, 0x0010}, {pids.programNumber, pids.pmt}}, nextCc(0));
    appendPmt(out, pids.pmt, pcrPid, streams, nextCc(pids.pmt), {}, pids.programNumber);
  };

  std::int64_t sourceBase = wrap33(options.sourceStart);  // source clock at program time 0
  int segment = 0;
  std::size_t nextJump = 0;
  std::int64_t audioFrame = 0;
  bool jointDue = false;  // the picture in the jump test after a jump is still to come
  auto addPes = [&](int pid, int streamId, std::int64_t programPts, std::int64_t programDts,
                    std::int64_t pcr, Bytes payload = {}) {
    if (jointDue && pid == pids.video && (programDts >= 0 || options.videoStreamType != 0x02)) {
      recording.jointPackets.push_back(packetIndex());
      jointDue = false;
    }
    PesStart pes;
    pes.payload = std::move(payload);
    pes.pid = pid;
    pes.streamId = streamId;
    pes.pts = wrap33(sourceBase + programPts);
    pes.dts = programDts < 0 ? -1 : wrap33(sourceBase + programDts);
    if (pcr >= 0) {
      pes.adaptationLength = 7;
      pes.pcr = wrap33(sourceBase + pcr / 300) * 300;
    }
    pes.cc = nextCc(pid);
    recording.pes.push_back({packetIndex(), pid, pes.pts, pes.dts, programPts, segment,
                             sourceBase + programPts >= kPtsModulus});
    if (pcr >= 0) {
      recording.pcrs.push_back(
          {packetIndex(), pid, pes.pcr, pcr, segment, sourceBase + pcr / 300 >= kPtsModulus});
    }
    appendPesStart(out, pes);
  };

  tables();
  std::int64_t frames = options.durationTicks / kFrameTicks;
  for (std::int64_t f = 0; f < frames; ++f) {
    std::int64_t now = f * kFrameTicks;
    bool gopStart = f % options.gopLength == 0;
    if ((gopStart || options.jumpsMidGop) && f > 0 && nextJump < options.jumps.size() &&
        now >= options.jumps[nextJump].atTime) {
      sourceBase = wrap33(sourceBase + options.jumps[nextJump].delta);
      ++segment;
      ++nextJump;
      jointDue = true;
    }
    if (gopStart && options.pmtChangeAt >= 0 && now >= options.pmtChangeAt &&
        audioPids != options.audioPidsAfterChange) {
      audioPids = options.audioPidsAfterChange;
      tables();
    }

    // With B-frames a reference picture is presented two frames after it is decoded, and its PES
    // carries a DTS; the B pictures between are presented as they are decoded.
    bool delayed = options.bFrames && f % 3 == 0;
    bool pcrDue = f % 3 == 0;
    // The PCR on its own PID, the audio frames due by now (and the lead) and the captions.
    auto others = [&]() {
      if (!options.pcrOnVideoPid && pcrDue) {
        std::int64_t pcr = wrap33(sourceBase + now) * 300;
        recording.pcrs.push_back(
            {packetIndex(), pids.pcr, pcr, now * 300, segment, sourceBase + now >= kPtsModulus});
        appendPcrOnly(out, pids.pcr, pcr, cc[pids.pcr]);
      }
      for (; audioFrame * kAudioTicks <= now + options.audioLead; ++audioFrame) {
        std::int64_t audioPts = audioFrame * kAudioTicks + kPresentationDelay;
        for (std::size_t i = 0; i < audioPids.size(); ++i) {
          addPes(audioPids[i], 0xC0 + static_cast<int>(i), audioPts, -1, -1);
        }
      }
      if (f % 30 == 15) addPes(pids.caption, 0xBD, now + kPresentationDelay, -1, -1);
    };
    if (options.videoLast && f > 0) others();
    std::int64_t dts = now + kPresentationDelay;
    std::int64_t pts = delayed ? dts + 2 * kFrameTicks : dts;
    addPes(pids.video, 0xE0, pts, delayed ? dts : -1,
           options.pcrOnVideoPid && pcrDue ? now * 300 : -1,
           options.videoStreamType == 0x02 ? Bytes{}
                                           : videoNalUnits(options.videoStreamType, gopStart));
    for (int i = 1; i < options.videoPacketsPerFrame; ++i) {
      appendPayload(out, pids.video, nextCc(pids.video));
      putNoise(out.data() + out.size() - kPacket + 4, kPacket - 4,
               static_cast<std::uint32_t>(f * 1009 + i));
    }
    if (!options.videoLast || f == 0) others();
    if (f % 3 == 1) tables();
    if (f % 30 == 7) appendSiPacket(out, 0x0012, nextCc(0x0012));
    if (f % 10 == 5) appendNull(out);
  }
  return recording;
}

}  // namespace corvane::streamgen
