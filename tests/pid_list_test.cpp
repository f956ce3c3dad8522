#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <vector>

#include "stream/packet.h"
#include "stream/stream_context.h"

namespace corvane {
namespace {

std::vector<int> contents(const PidList& list) {
  std::vector<int> pids;
  for (const PidList* element = list.link; element != nullptr; element = element->link) {
    pids.push_back(element->pid);
  }
  return pids;
}

TEST(PidList, KeepsDistinctPidsAscendingWhateverTheInsertionOrder) {
  std::array<int, 3> order = {0x0110, 0x0111, 0x0112};
  do {
    PidList list;
    for (int pid : order) EXPECT_TRUE(insertPid(list, pid));
    EXPECT_EQ(contents(list), (std::vector<int>{0x0110, 0x0111, 0x0112}));
    freePidList(list);
  } while (std::next_permutation(order.begin(), order.end()));
}

TEST(PidList, InsertsFirstAndLastAndIgnoresDuplicates) {
  PidList list;
  EXPECT_TRUE(insertPid(list, 0x0200));
  EXPECT_EQ(contents(list), std::vector<int>{0x0200});
  PidList* first = list.link;
  EXPECT_TRUE(insertPid(list, 0x0200));
  EXPECT_EQ(list.link, first);  // nothing allocated, nothing moved
  EXPECT_EQ(first->link, nullptr);
  EXPECT_TRUE(insertPid(list, 0x0001));
  EXPECT_TRUE(insertPid(list, 0x1FFF));
  EXPECT_EQ(contents(list), (std::vector<int>{0x0001, 0x0200, 0x1FFF}));
  EXPECT_TRUE(containsPid(list, 0x1FFF));
  EXPECT_FALSE(containsPid(list, 0x0002));
  freePidList(list);
}

TEST(PidList, CountsAndPositions) {
  PidList list;
  EXPECT_EQ(countPids(list), 0);
  EXPECT_EQ(pidAt(list, 0), 0);
  insertPid(list, 0x0111);
  insertPid(list, 0x0112);
  EXPECT_EQ(countPids(list), 2);
  EXPECT_EQ(pidAt(list, 0), 0x0111);
  EXPECT_EQ(pidAt(list, 1), 0x0112);
  EXPECT_EQ(pidAt(list, 2), 0);   // at the count
  EXPECT_EQ(pidAt(list, 99), 0);  // past it
  EXPECT_EQ(pidAt(list, -1), 0);
  freePidList(list);
}

TEST(PidList, FreeingEmptiesAllFiveLists) {
  StreamContext context;
  freePidLists(context);  // all empty: nothing to do
  for (PidList* list : {&context.pcrPids, &context.pmtPids, &context.videoPids, &context.audioPids,
                        &context.captionPids}) {
    insertPid(*list, 0x0100);
    insertPid(*list, 0x0101);
  }
  freePidLists(context);
  for (const PidList* list : {&context.pcrPids, &context.pmtPids, &context.videoPids,
                              &context.audioPids, &context.captionPids}) {
    EXPECT_EQ(countPids(*list), 0);
    EXPECT_EQ(list->link, nullptr);
  }
}

TEST(PacketFields, AreReadAtFixedPositionsWhateverTheSyncByte) {
  std::uint8_t packet[kPacketSize] = {0x00, 0xFF, 0xFE, 0x3A, 0, 0x10};  // sync byte not 0x47
  EXPECT_EQ(packetPid(packet), 0x1FFE);
  EXPECT_TRUE(payloadUnitStart(packet));
  EXPECT_TRUE(hasPayload(packet));
  EXPECT_FALSE(carriesPcr(packet));  // an adaptation field of length 0 carries no PCR
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
  EXPECT_EQ(sectionLength(packet), 0x123);
  packet[6] = 0x81;  // reserved bits 00: not a section
  EXPECT_NE(sectionKey(packet), kPmtSectionKey);
}

}  // namespace
}  // namespace corvane
