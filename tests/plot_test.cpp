// The picture's memory and size stay bounded however many services and events a run has, its
// points stay evenly spread, and no mark is lost from the counts. The picture read back as a
// browser reads it: tests/plot_test.py.
#include "output/plot.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "tests/test_support.h"

namespace corvane {
namespace {

std::size_t occurrences(const std::string& text, const std::string& part) {
  std::size_t count = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
    ++count;
  }
  return count;
}

TEST(Plot, StaysBoundedAndEvenWhateverTheServicesAndEvents) {
  for (int services : {1, 3, 256}) {
    SCOPED_TRACE(std::to_string(services) + " services");
    std::mt19937 random(static_cast<std::uint32_t>(services));
    Multiplex multiplex;
    for (int n = 0; n < services; ++n) {
      auto service = std::make_unique<Service>();
      service->programNumber = n + 1;
      insertPid(service->pids.video, 0x100 + n);
      service->pids.anchor = 0x100 + n;
      insertPid(service->pids.pcr, n % 3 == 2 ? kNullPid : 0x100 + n);  // every third without
      multiplex.programs.push_back(Program{n + 1, 0x1000 + n, std::move(service)});
    }
    multiplex.oneService = services == 1;
    CountersPointer counters = makeContinuityCounters();
    testing::ToolFolder folder;
    Plot plot;
    ASSERT_FALSE(openPlot(plot, (folder / "p.svg").native(), ReportHead{}, Report{},
                          platform::kNoFile, platform::kNoFile)
                     .failed);
    startPlot(plot, multiplex, *counters);

    // Each service's clock every 1,880 bytes, its source wrapping, with joints, and damage that
    // comes in bursts; the lost sync is the whole stream's.
    std::int64_t samples = services == 1 ? 50000 : 3000;
    std::vector<std::int64_t> drops(static_cast<std::size_t>(services));
    std::int64_t syncLosses = 0;
    for (std::int64_t k = 0; k < samples; ++k) {
      for (int n = 0; n < services; ++n) {
        const Service& service = *multiplex.programs[static_cast<std::size_t>(n)].service;
        std::int64_t offset = (k * services + n) * 1880;
        std::int64_t pts = (kMaxPts - 90000 * 50 + k * 9000) & kMaxPts;
        Event event{.kind = withoutPcr(service) ? EventKind::jumpTestPes : EventKind::pcrRebased,
                    .pid = service.pids.anchor,
                    .program = n + 1,
                    .offset = offset,
                    .source = withoutPcr(service) ? pts : pts * 300,
                    .value = k * 2700000,
                    .ptsOffset = pts - k * 9000};
        plotEvent(plot, event);
        if (random() % 500 == 0) {
          plotEvent(plot, Event{.kind = EventKind::joint, .program = n + 1, .offset = offset});
        }
        if (k % 400 < 3 || random() % 1000 == 0) {
          ++drops[static_cast<std::size_t>(n)];
          plotEvent(plot, Event{.kind = EventKind::drop,
                                .pid = service.pids.anchor,
                                .program = n + 1,
                                .offset = offset + 188});
        }
      }
      if (random() % 200 == 0) {
        ++syncLosses;
        plotEvent(plot,
                  Event{.kind = EventKind::syncLost, .offset = k * services * 1880, .value = 5});
      }
    }
    plotServices(plot, multiplex, *counters);

    ASSERT_EQ(plot.panels.size(), static_cast<std::size_t>(services));
    for (const PlotPanel& panel : plot.panels) {
      EXPECT_LE(panel.points.size(), static_cast<std::size_t>(kPlotPoints));
      EXPECT_LE(panel.points.size() * static_cast<std::size_t>(services),
                static_cast<std::size_t>(kPlotPointBudget));
      EXPECT_GE(panel.points.size(), 100u);
      // Thinned evenly: one sample of every `stride`, the first of them.
      for (std::size_t i = 1; i < panel.points.size(); ++i) {
        ASSERT_EQ(panel.points[i].offset - panel.points[i - 1].offset,
                  panel.stride * services * 1880);
        // The source's wrap is followed: its times go on.
        ASSERT_EQ(panel.points[i].source - panel.points[i - 1].source, panel.stride * 9000 * 300);
      }
      EXPECT_LE(panel.marks.size(), static_cast<std::size_t>(kPlotMarks));
      EXPECT_EQ(static_cast<std::int64_t>(panel.marks.size()) + panel.unmarked,
                panel.markCounts[static_cast<int>(MarkKind::joint)]);
      EXPECT_LE(panel.damage.marks.size(), static_cast<std::size_t>(kDamageMarks));
      std::int64_t dropped = 0;
      for (const PlotMark& mark : panel.damage.marks) dropped += mark.events;
      EXPECT_EQ(dropped, drops[static_cast<std::size_t>(panel.program - 1)]);
    }
    std::int64_t lost = 0;
    for (const PlotMark& mark : plot.streamDamage.marks) lost += mark.events;
    EXPECT_EQ(lost, syncLosses);

    FileSizes sizes{.sourceRead = samples * services * 1880};
    ASSERT_FALSE(finishPlot(plot, ReportEnd{sizes, "complete", "none", std::string()}).failed);
    std::string svg = testing::readText(folder / "p.svg");
    EXPECT_EQ(occurrences(svg, "<g class=\"panel\""), static_cast<std::size_t>(services));
    EXPECT_EQ(occurrences(svg, "no PCR: the times are PID"),
              static_cast<std::size_t>(services / 3));
    // A grid of at most eight columns of panels, and a file of a few MB at most.
    EXPECT_NE(svg.find(services > 64 ? "width=\"3840\"" : "width=\"960\""), std::string::npos);
    EXPECT_LT(svg.size(), 8u << 20);
  }
}

}  // namespace
}  // namespace corvane
