// The survey of the first block: finds PAT, PMT, PCR and the GOP start, fills the PID lists,
// sets the first offset and decides whether the recording can be rebased.
#pragma once

#include <cstdint>

#include "stream/stream_context.h"

namespace corvane {

// Surveys the first block of the source, `blockBytes` bytes at `block`. Errored packets and a
// partial last packet are passed by. True when the stream can be rebased; false after a message.
bool surveyStream(StreamContext& context, const std::uint8_t* block, std::int32_t blockBytes);

// Readers of the PAT and of a PMT section in the packet. readPmt adds to the PCR, video, audio and
// caption lists and then checks them as they stand: exactly one PCR PID, one video PID and one or
// two audio PIDs. It serves the survey and the rewrite pass alike.
bool readPat(StreamContext& context, const std::uint8_t* packet);
bool readPmt(StreamContext& context, const std::uint8_t* packet);

// Learns video and audio PIDs from PES headers and enforces the GOP start.
bool checkPesStart(StreamContext& context, const std::uint8_t* packet);

}  // namespace corvane
