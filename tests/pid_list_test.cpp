#include "ts/pid_list.h"

#include <gtest/gtest.h>

#include <array>
#include <random>
#include <set>
#include <vector>

#include "ts/packet.h"
#include "ts/section.h"

namespace corvane {
namespace {

// A list holds exactly the distinct PIDs put in, whatever their order, and gives them back in
// ascending order through each of its readers.
TEST(PidList, HoldsTheDistinctPidsPutInAscending) {
  std::mt19937 random(21);
  for (int round = 0; round < 200; ++round) {
    PidList list;
    std::set<int> expected;
    int inserts = static_cast<int>(random() % 12);
    for (int i = 0; i < inserts; ++i) {
      // Mostly the edges and a few neighbours, so that duplicates and word boundaries come up.
      int pid = random() % 2 ? static_cast<int>(random() % kPidCount)
                             : std::array{0, 1, 63, 64, 0x0111, 0x0112, 8191}[random() % 7];
      insertPid(list, pid);
      expected.insert(pid);
    }
    std::vector<int> walked;
    for (int pid = nextPid(list, -1); pid >= 0; pid = nextPid(list, pid)) walked.push_back(pid);
    ASSERT_EQ(walked, std::vector<int>(expected.begin(), expected.end()));
    ASSERT_EQ(countPids(list), static_cast<int>(expected.size()));
    int position = 0;
    for (int pid : expected) ASSERT_EQ(pidAt(list, position++), pid);
    EXPECT_EQ(pidAt(list, position), 0);  // at the count
    EXPECT_EQ(pidAt(list, -1), 0);
    for (int pid : {0, 1, 63, 64, 0x0111, 8191, static_cast<int>(random() % kPidCount)}) {
      ASSERT_EQ(containsPid(list, pid), expected.count(pid) == 1) << pid;
    }
    EXPECT_FALSE(containsPid(list, kPidCount));
  }
}

TEST(PacketFields, AreReadAtFixedPositionsWhateverTheSyncByte) {
  std::uint8_t packet[kPacketSize] = {0x00, 0xFF, 0xFE, 0x3A, 0, 0x10};  // sync byte not 0x47
  EXPECT_EQ(packetPid(packet), 0x1FFE);
  EXPECT_TRUE(payloadUnitStart(packet));
  EXPECT_TRUE(hasPayload(packet));
  EXPECT_TRUE(transportError(packet));
  EXPECT_FALSE(carriesPcr(packet));  // an adaptation field of length 0 carries no PCR
  packet[4] = 6;
  EXPECT_FALSE(carriesPcr(packet));  // nor one too short for the six PCR bytes
  packet[4] = 7;
  EXPECT_TRUE(carriesPcr(packet));
  EXPECT_EQ(pesOffsetOf(packet), 8);
  packet[3] = 0x1A;  // no adaptation field: neither PCR nor offset
  EXPECT_FALSE(carriesPcr(packet));
  EXPECT_EQ(pesOffsetOf(packet), 0);
  setContinuityCounter(packet, 5);
  EXPECT_EQ(packet[3], 0x15);  // scrambling and adaptation_field_control kept

  packet[5] = 0x02;
  packet[6] = 0xB1;
  packet[7] = 0x23;
  EXPECT_EQ(sectionKey(packet), kPmtSectionKey);
  EXPECT_EQ(sectionLengthOf(packet + 5), 0x123);
  packet[6] = 0x81;  // reserved bits 00: not a section
  EXPECT_NE(sectionKey(packet), kPmtSectionKey);
}

}  // namespace
}  // namespace corvane
