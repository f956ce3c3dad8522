// The picture of a run: an SVG file with a panel for each repaired service, whose x axis is the
// place in the recording and whose y axis is time, with the source's PCR and the repaired PCR as
// two lines, and the joints, wraps, PMT changes and damage marked where they are. It is drawn
// from the events as they come, into memory that does not grow with the recording: each
// service keeps a fixed number of points, thinned evenly as the run goes, and a fixed number of
// marks; the file is written at the run's end under a temporary name, and then renamed.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "output/output_file.h"
#include "output/report.h"
#include "service/events.h"
#include "service/multiplex.h"
#include "ts/continuity.h"

namespace corvane {

// Points and marks of one service, at most; with many services, each keeps its share of the
// picture's budget.
constexpr int kPlotPoints = 2000;
constexpr int kPlotPointBudget = 64000;
constexpr int kPlotMarks = 200;  // joints, wraps and PMT changes; the others are counted
constexpr int kPlotMarkBudget = 8000;
constexpr int kDamageMarks = 48;  // damage marks of one service, or of the whole stream
constexpr int kPanelPids = 32;    // the PIDs of a service whose scrambled packets are counted

struct PlotPoint {
  std::int64_t offset;  // in the source, bytes
  std::int64_t source;  // 27 MHz, the source's wraps followed
  std::int64_t output;  // 27 MHz, as written, its wraps followed
  bool opensStretch;    // a joint came since the point before: the source line breaks here
};

enum class MarkKind : std::uint8_t { joint, wrap, pmtChange, errored, drop, scrambled, syncLost };
constexpr int kMarkKinds = 7;

struct PlotMark {
  MarkKind kind;
  StreamRole role = StreamRole::video;
  int pid = 0;
  std::int64_t offset = 0;      // where it is; for damage, where the first it stands for is
  std::int64_t lastOffset = 0;  // where the last of them is
  std::int64_t count = 1;       // the packets (for lost sync, the bytes) it stands for
  std::int64_t events = 1;      // the events it stands for
  std::int64_t value = 0;       // a joint's or wrap's gap, 90 kHz; a PMT change's new PID
  std::int64_t previous = 0;    // a PMT change's old PID
};

// Damage marks: a new one joins the last of its kind when it is at most `span` bytes after it,
// and the span doubles whenever the marks would be more than their room.
struct DamageMarks {
  std::vector<PlotMark> marks;
  std::int64_t span = 64 * 188;
  int latest[kMarkKinds] = {-1, -1, -1, -1, -1, -1, -1};
};

// A timestamp that wraps, followed across its wraps.
struct UnwrappedClock {
  std::int64_t last = -1;
  std::int64_t base = 0;
};

struct PlotPanel {
  int program = 0;
  const Service* service = nullptr;
  bool fromPts = false;  // without PCR: its points are its anchor's PTS
  int anchor = -1;
  std::vector<PlotPoint> points;
  int capacity = kPlotPoints;
  std::int64_t samples = 0;
  std::int64_t stride = 1;  // one sample of `stride` is kept
  PlotPoint last{};         // the last sample, kept or not
  bool breakPending = false;
  UnwrappedClock source;
  UnwrappedClock output;
  std::vector<PlotMark> marks;
  int markCapacity = kPlotMarks;
  std::int64_t unmarked = 0;  // joints, wraps and PMT changes past the room
  std::int64_t markCounts[kMarkKinds] = {};
  DamageMarks damage;
  int pids[kPanelPids] = {};
  int pidCount = 0;
  std::int64_t scrambled = 0;  // its PIDs' scrambled packets at its last point

  // From the run's end.
  bool repaired = false;
  int order = 0;        // its place among the programs
  std::string heading;  // program, PIDs and codings
  PidCounts counts;
  std::int64_t packets = 0;
};

struct Plot {
  OutputFile file;
  // The events it takes, one bit for each kind: one test for the rest, which are most of them.
  unsigned kinds = 0;
  std::string source;  // the source's and the destination's names, in UTF-8
  std::string destination;
  const Multiplex* multiplex = nullptr;
  const ContinuityCounters* counters = nullptr;
  std::vector<PlotPanel> panels;  // room for kMaxServices + 1, made as their services come
  int lastPanel = 0;
  int pointCapacity = kPlotPoints;
  int markCapacity = kPlotMarks;
  // Lost sync, and damage to PIDs that no service owns (tables, SI): the whole stream's.
  DamageMarks streamDamage;

  // From the run's end: the repaired services' counts.
  PidCounts counts;
  std::int64_t packets = 0;
};

// True when the picture is drawn.
inline bool plotWanted(const Plot& plot) { return plot.file.stream != nullptr; }

// Opens the picture under its temporary name, as the report is opened; it fails as well for a
// name that is the report's or the drop log's (either of their names).
IoStatus openPlot(Plot& plot, const platform::Path& path, const ReportHead& head,
                  const Report& report, platform::FileHandle source, platform::FileHandle timeLog);

// The pass begins on `multiplex`, whose counters are `counters`: each service's share of the
// points and marks is set from the number of its programs.
void startPlot(Plot& plot, const Multiplex& multiplex, const ContinuityCounters& counters);

// Takes an event: a PCR (or a PTS of a service without PCR) as a point, the rest as marks.
void plotEvent(Plot& plot, const Event& event);

// The services that were repaired, with their PIDs, codings and counts, from the run's end.
void plotServices(Plot& plot, const Multiplex& multiplex, const ContinuityCounters& counters);

// Draws the picture, closes it and gives it its name. On failure the temporary file is removed,
// and the status has the system's code.
IoStatus finishPlot(Plot& plot, const ReportEnd& end);

// Closes and removes a picture that is not to be finished.
void abandonPlot(Plot& plot);

}  // namespace corvane
