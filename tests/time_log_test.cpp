// The time log's line for each event, to the byte.
#include "output/time_log.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/test_support.h"

namespace corvane {
namespace {

TEST(TimeLog, EachEventHasItsLine) {
  using K = EventKind;
  using R = StreamRole;
  const struct {
    Event event;
    std::string line;
  } cases[] = {
      {{.kind = K::pcrRebased,
        .source = 127200000000,
        .value = 97200000000,
        .ptsOffset = 100000000},
       "PCR   :  127200000000,     424000000,     100000000,     324000000\r\n"},
      {{.kind = K::pcrRebased, .source = 0, .value = -300, .ptsOffset = 1},
       "PCR   :             0,             0,             1,            -1\r\n"},
      {{.kind = K::pesRebased,
        .role = R::video,
        .source = 8589934582,
        .value = 8589934682,
        .ptsOffset = -10},
       "V-PTS :                   8589934582,           -10,    8589934682\r\n"},
      {{.kind = K::pesRebased, .role = R::audio, .source = 0, .value = -1, .ptsOffset = 1},
       "A-PTS :                            0,             1,            -1\r\n"},
      {{.kind = K::pesRebased,
        .role = R::caption,
        .source = 500090000,
        .value = 324135000,
        .ptsOffset = -77777777},
       "C-PTS :                    500090000,     -77777777,     324135000\r\n"},
      // The new value is the plain difference and the step the distance, either way.
      {{.kind = K::jumpTestPes, .source = 2000, .previous = 8589933592, .ptsOffset = -589934591},
       "V-GOP :                         2000,    -589934591,     589936591,    8589933592,"
       "    8589931592\r\n"},
      {{.kind = K::joint, .ptsOffset = 1795000, .prevPtsOffset = 1000},
       "********* Joint GOP *********\r\nGOPPTS:          1000,       1795000\r\n"},
      {{.kind = K::wrap}, "********* wrap around GOP *********\r\n"},
      {{.kind = K::pidChanged, .role = R::pcr, .value = 0x0100, .previous = 0x01FF},
       "*** Change PCRPID     : 01ff -> 0100\r\n"},
      {{.kind = K::pidChanged, .role = R::video, .value = 0, .previous = 0x0111},
       "*** Change VIDEOPID   : 0111 -> 0000\r\n"},
      {{.kind = K::pidChanged, .role = R::audio, .value = 0x0113, .previous = 0x0111},
       "*** Change AUDIOPID  : 0111 -> 0113\r\n"},
      {{.kind = K::pidChanged, .role = R::audio, .value = 0x0112, .previous = 0},
       "*** Add    AUDIOPID  : ---- -> 0112\r\n"},
      {{.kind = K::pidChanged, .role = R::caption, .value = 0, .previous = 0x0130},
       "*** Delete CAPTIONPID  : 0130 -> ----\r\n"},
      {{.kind = K::packetCounted}, ""},
      {{.kind = K::erroredPacket}, ""},
      {{.kind = K::cutOffEnd, .value = 77}, ""},
  };
  TimeLog log;
  for (const auto& c : cases) {
    log.stream = std::tmpfile();
    logEvent(log, c.event);
    EXPECT_EQ(testing::streamText(log.stream), c.line);
    std::fclose(log.stream);
    log.stream = nullptr;
    logEvent(log, c.event);  // a closed log takes nothing
  }
}

}  // namespace
}  // namespace corvane
