#include "output/plot.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <iterator>
#include <memory>
#include <string_view>

#include "output/json.h"
#include "output/service_facts.h"
#include "ts/timestamp.h"

#ifndef CORVANE_VERSION
#define CORVANE_VERSION "unknown"
#endif

namespace corvane {

namespace {

constexpr std::int64_t kPcrModulus = (std::int64_t{1} << 33) * 300;  // 27 MHz
constexpr std::int64_t kPtsModulus = std::int64_t{1} << 33;          // 90 kHz
constexpr double kPcrHz = 27000000.0;

long long ll(std::int64_t value) { return static_cast<long long>(value); }

// ---- What the events leave ----

// A 27 MHz time that wraps at 2^33 x 300, counted on across its wraps either way.
std::int64_t unwrap(UnwrappedClock& clock, std::int64_t value) {
  if (clock.last >= 0) {
    if (value < clock.last - kPcrModulus / 2) clock.base += kPcrModulus;
    if (value > clock.last + kPcrModulus / 2) clock.base -= kPcrModulus;
  }
  clock.last = value;
  return value + clock.base;
}

// The PIDs of the panel's service, whose scrambled packets it counts.
void takePids(PlotPanel& panel) {
  panel.pidCount = 0;
  const ProgramPids& pids = panel.service->pids;
  for (const PidList* list : {&pids.pcr, &pids.video, &pids.audio, &pids.captions, &pids.others}) {
    for (int pid = nextPid(*list, -1); pid >= 0 && panel.pidCount < kPanelPids;
         pid = nextPid(*list, pid)) {
      if (pid == kNullPid ||
          std::find(panel.pids, panel.pids + panel.pidCount, pid) != panel.pids + panel.pidCount) {
        continue;
      }
      panel.pids[panel.pidCount++] = pid;
    }
  }
}

// The panel of the program, made at its first event; null for a program without a service, and
// once the panels are full.
PlotPanel* panelOf(Plot& plot, int program) {
  if (!plot.panels.empty() &&
      plot.panels[static_cast<std::size_t>(plot.lastPanel)].program == program) {
    return &plot.panels[static_cast<std::size_t>(plot.lastPanel)];
  }
  for (std::size_t i = 0; i < plot.panels.size(); ++i) {
    if (plot.panels[i].program != program) continue;
    plot.lastPanel = static_cast<int>(i);
    return &plot.panels[i];
  }
  if (plot.multiplex == nullptr || plot.panels.size() == kMaxServices + 1) return nullptr;
  const Service* service = nullptr;
  for (const Program& candidate : plot.multiplex->programs) {
    if (candidate.number == program && candidate.service != nullptr) {
      service = candidate.service.get();
      break;
    }
  }
  if (service == nullptr) return nullptr;
  PlotPanel& panel = plot.panels.emplace_back();
  panel.program = program;
  panel.service = service;
  panel.fromPts = withoutPcr(*service);
  panel.anchor = service->pids.anchor;
  panel.capacity = plot.pointCapacity;
  panel.markCapacity = plot.markCapacity;
  panel.points.reserve(static_cast<std::size_t>(panel.capacity));
  panel.marks.reserve(static_cast<std::size_t>(panel.markCapacity));
  panel.damage.marks.reserve(kDamageMarks);
  takePids(panel);
  plot.lastPanel = static_cast<int>(plot.panels.size() - 1);
  return &panel;
}

// Joins `mark` to `into`, the last mark of its kind, when it is at most the span after it.
bool joins(const DamageMarks& damage, PlotMark& into, const PlotMark& mark) {
  if (mark.offset - into.lastOffset > damage.span) return false;
  into.lastOffset = std::max(into.lastOffset, mark.lastOffset);
  into.count += mark.count;
  into.events += mark.events;
  return true;
}

// Joins each damage mark to the last one of its kind that is at most the span before it.
void joinDamage(DamageMarks& damage) {
  std::fill(std::begin(damage.latest), std::end(damage.latest), -1);
  std::size_t kept = 0;
  for (const PlotMark& mark : damage.marks) {
    int& latest = damage.latest[static_cast<int>(mark.kind)];
    if (latest >= 0 && joins(damage, damage.marks[static_cast<std::size_t>(latest)], mark)) {
      continue;
    }
    latest = static_cast<int>(kept);
    damage.marks[kept++] = mark;
  }
  damage.marks.resize(kept);
}

void addDamage(DamageMarks& damage, const PlotMark& mark) {
  if (int latest = damage.latest[static_cast<int>(mark.kind)];
      latest >= 0 && joins(damage, damage.marks[static_cast<std::size_t>(latest)], mark)) {
    return;
  }
  // Coarser until there is room: with the span past the recording's length, one mark of each
  // kind is left.
  while (damage.marks.size() >= kDamageMarks) {
    damage.span *= 2;
    joinDamage(damage);
  }
  damage.latest[static_cast<int>(mark.kind)] = static_cast<int>(damage.marks.size());
  damage.marks.push_back(mark);
}

// The service's packets scrambled since its last point, as a mark from there to `offset`. The
// counters have no place for each, so the picture places them between two of its points.
void countScrambled(const ContinuityCounters& counters, PlotPanel& panel, std::int64_t offset) {
  std::int64_t scrambled = 0;
  for (int i = 0; i < panel.pidCount; ++i) scrambled += counters.counts[panel.pids[i]].scrambled;
  if (scrambled <= panel.scrambled) return;
  std::int64_t from = panel.points.empty() ? 0 : panel.points.back().offset;
  addDamage(panel.damage, PlotMark{.kind = MarkKind::scrambled,
                                   .offset = from,
                                   .lastOffset = std::max(from, offset),
                                   .count = scrambled - panel.scrambled});
  panel.scrambled = scrambled;
}

// Keeps every other point, and from now on every other sample of those kept so far.
void thinPoints(PlotPanel& panel) {
  std::vector<PlotPoint>& points = panel.points;
  std::size_t half = points.size() / 2;
  for (std::size_t i = 1; i < half; ++i) {
    bool breaks = points[2 * i - 1].opensStretch || points[2 * i].opensStretch;
    points[i] = points[2 * i];
    points[i].opensStretch = breaks;
  }
  panel.breakPending = panel.breakPending || points[2 * half - 1].opensStretch;
  points.resize(half);
  panel.stride *= 2;
}

void addPoint(Plot& plot, PlotPanel& panel, std::int64_t offset, std::int64_t source,
              std::int64_t output) {
  PlotPoint point{offset, unwrap(panel.source, source), unwrap(panel.output, output), false};
  panel.last = point;
  if (panel.samples++ % panel.stride != 0) return;
  point.opensStretch = panel.breakPending;
  panel.breakPending = false;
  countScrambled(*plot.counters, panel, offset);
  panel.points.push_back(point);
  if (panel.points.size() == static_cast<std::size_t>(panel.capacity)) thinPoints(panel);
}

void addMark(PlotPanel& panel, const PlotMark& mark) {
  ++panel.markCounts[static_cast<int>(mark.kind)];
  if (panel.marks.size() == static_cast<std::size_t>(panel.markCapacity)) {
    ++panel.unmarked;
  } else {
    panel.marks.push_back(mark);
  }
}

}  // namespace

IoStatus openPlot(Plot& plot, const platform::Path& path, const ReportHead& head,
                  const Report& report, platform::FileHandle source, platform::FileHandle timeLog) {
  plot.source = platform::pathInUtf8(head.source);
  plot.destination = platform::pathInUtf8(head.destination);
  return openOutputFile(plot.file, path,
                        {head.destination, head.source, report.file.path, report.file.temporary,
                         report.dropLog.path, report.dropLog.temporary},
                        source, timeLog);
}

void startPlot(Plot& plot, const Multiplex& multiplex, const ContinuityCounters& counters) {
  plot.multiplex = &multiplex;
  plot.counters = &counters;
  int services = std::clamp(static_cast<int>(multiplex.programs.size()), 1, kMaxServices + 1);
  plot.pointCapacity = std::min(kPlotPoints, kPlotPointBudget / services) & ~1;
  plot.markCapacity = std::min(kPlotMarks, kPlotMarkBudget / services);
  plot.panels.reserve(kMaxServices + 1);
  plot.streamDamage.marks.reserve(kDamageMarks);
  for (EventKind kind :
       {EventKind::pcrRebased, EventKind::joint, EventKind::wrap, EventKind::pidChanged,
        EventKind::erroredPacket, EventKind::drop, EventKind::syncLost}) {
    plot.kinds |= 1u << static_cast<int>(kind);
  }
  // The one service of a recording has a PCR; a service of a multiplex may have none, and its
  // anchor's times then stand for it.
  if (!multiplex.oneService) plot.kinds |= 1u << static_cast<int>(EventKind::jumpTestPes);
}

void plotEvent(Plot& plot, const Event& event) {
  switch (event.kind) {
    case EventKind::pcrRebased:
      if (PlotPanel* panel = panelOf(plot, event.program); panel != nullptr && !panel->fromPts) {
        addPoint(plot, *panel, event.offset, event.source, pcrAsWritten(event.value));
      }
      return;
    case EventKind::jumpTestPes:
      // Without PCR, the anchor's times stand for it.
      if (PlotPanel* panel = panelOf(plot, event.program);
          panel != nullptr && panel->fromPts && event.pid == panel->service->pids.anchor) {
        std::int64_t output = (event.source - event.ptsOffset) % kPtsModulus;
        addPoint(plot, *panel, event.offset, event.source * 300,
                 (output < 0 ? output + kPtsModulus : output) * 300);
      }
      return;
    case EventKind::joint:
    case EventKind::wrap:
      if (PlotPanel* panel = panelOf(plot, event.program)) {
        // The time taken out of the timeline; a wrap, which is followed, takes out none.
        std::int64_t gap = ptsStep(event.ptsOffset - event.prevPtsOffset);
        bool joint = event.kind == EventKind::joint;
        addMark(*panel, PlotMark{.kind = joint ? MarkKind::joint : MarkKind::wrap,
                                 .pid = event.pid,
                                 .offset = event.offset,
                                 .lastOffset = event.offset,
                                 .value = gap});
        panel->breakPending = panel->breakPending || joint;
      }
      return;
    case EventKind::pidChanged:
      if (PlotPanel* panel = panelOf(plot, event.program)) {
        addMark(*panel, PlotMark{.kind = MarkKind::pmtChange,
                                 .role = event.role,
                                 .offset = event.offset,
                                 .lastOffset = event.offset,
                                 .value = event.value,
                                 .previous = event.previous});
        takePids(*panel);
      }
      return;
    case EventKind::erroredPacket:
    case EventKind::drop: {
      // An errored packet is reported before the rules know its service.
      int program = event.program;
      if (const Service* owner =
              plot.multiplex != nullptr ? plot.multiplex->pids.service[event.pid] : nullptr;
          program == 0 && owner != nullptr) {
        program = owner->programNumber;
      }
      // Damage to the tables and other PIDs that no service owns is the whole stream's.
      PlotPanel* panel = program != 0 ? panelOf(plot, program) : nullptr;
      addDamage(panel != nullptr ? panel->damage : plot.streamDamage,
                PlotMark{.kind = event.kind == EventKind::drop ? MarkKind::drop : MarkKind::errored,
                         .pid = event.pid,
                         .offset = event.offset,
                         .lastOffset = event.offset,
                         .value = event.value,
                         .previous = event.previous});
      return;
    }
    case EventKind::syncLost:
      addDamage(plot.streamDamage, PlotMark{.kind = MarkKind::syncLost,
                                            .offset = event.offset,
                                            .lastOffset = event.offset,
                                            .count = event.value});
      return;
    default:
      return;
  }
}

void plotServices(Plot& plot, const Multiplex& multiplex, const ContinuityCounters& counters) {
  if (!plotWanted(plot)) return;
  if (plot.multiplex == nullptr) startPlot(plot, multiplex, counters);
  for (std::size_t i = 0; i < multiplex.programs.size(); ++i) {
    const Program& program = multiplex.programs[i];
    const Service* service = program.service.get();
    if (service == nullptr || service->countersOnly) continue;
    PlotPanel* panel = panelOf(plot, program.number);
    if (panel == nullptr) continue;
    panel->repaired = true;
    panel->order = static_cast<int>(i);
    countScrambled(counters, *panel, panel->samples > 0 ? panel->last.offset : 0);
    // The counts of its PIDs, and of its PMT's.
    takePids(*panel);
    for (int k = 0; k <= panel->pidCount; ++k) {
      int pid = k < panel->pidCount ? panel->pids[k] : program.pmtPid;
      panel->counts += counters.counts[pid];
      panel->packets += counters.packets[pid];
    }
    plot.counts += panel->counts;
    plot.packets += panel->packets;
    char text[96];
    std::snprintf(text, sizeof text, "program %d (PMT 0x%04X)", program.number, program.pmtPid);
    panel->heading = text;
    const ProgramPids& pids = service->pids;
    struct RoleList {
      StreamRole role;
      const PidList* pids;
    };
    for (RoleList list :
         {RoleList{StreamRole::video, &pids.video}, RoleList{StreamRole::audio, &pids.audio},
          RoleList{StreamRole::caption, &pids.captions},
          RoleList{StreamRole::other, &pids.others}}) {
      for (int pid = nextPid(*list.pids, -1); pid >= 0; pid = nextPid(*list.pids, pid)) {
        const char* label = codingNames(codingOf(*service, pid, list.role)).label;
        std::snprintf(text, sizeof text, ", %s 0x%04X%s%s", roleNames(list.role).key, pid,
                      *label != 0 ? " " : "", label);
        panel->heading += text;
      }
    }
  }
  // The services go with the multiplex.
  for (PlotPanel& panel : plot.panels) panel.service = nullptr;
  plot.multiplex = nullptr;
}

namespace {

// ---- The picture ----

// `text` as XML character data: valid UTF-8 (U+FFFD for any byte that begins no sequence), the
// markup's characters escaped and control characters as blanks.
std::string xmlText(const std::string& text) {
  std::string xml;
  const auto* bytes = reinterpret_cast<const unsigned char*>(text.c_str());
  for (std::size_t i = 0; i < text.size();) {
    // Plain ASCII goes as it is, in runs.
    std::size_t plain = i;
    while (plain < text.size() && bytes[plain] >= 0x20 && bytes[plain] < 0x7F &&
           bytes[plain] != '&' && bytes[plain] != '<' && bytes[plain] != '>' &&
           bytes[plain] != '"') {
      ++plain;
    }
    xml.append(text, i, plain - i);
    i = plain;
    if (i == text.size()) break;
    unsigned char c = bytes[i];
    int length = c < 0x80 ? 1 : utf8Length(bytes + i);
    if (c == '&') {
      xml += "&amp;";
    } else if (c == '<') {
      xml += "&lt;";
    } else if (c == '>') {
      xml += "&gt;";
    } else if (c == '"') {
      xml += "&quot;";
    } else if (c < 0x20 || c == 0x7F) {
      xml += ' ';
    } else if (length > 0) {
      xml.append(text, i, static_cast<std::size_t>(length));
      i += static_cast<std::size_t>(length);
      continue;
    } else {
      xml += "\xEF\xBF\xBD";
    }
    ++i;
  }
  return xml;
}

std::string formatted(const char* format, ...) CORVANE_PRINTF(1, 2);
std::string formatted(const char* format, ...) {
  char text[256];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  return text;
}

// "1 joint", "2 joints".
std::string counted(std::int64_t count, const char* one, const char* many) {
  return formatted("%lld %s", ll(count), count == 1 ? one : many);
}

// h:mm:ss of a 27 MHz time.
std::string clockText(std::int64_t pcr) {
  std::int64_t seconds = pcr / 27000000;
  return formatted("%lld:%02lld:%02lld", ll(seconds / 3600), ll(seconds / 60 % 60),
                   ll(seconds % 60));
}

// A step of 1, 2 or 5 times a power of ten that cuts `range` into about `ticks` parts.
double niceStep(double range, int ticks) {
  double raw = std::max(range, 1e-9) / ticks;
  double power = std::pow(10.0, std::floor(std::log10(raw)));
  for (double factor : {1.0, 2.0, 5.0}) {
    if (factor * power >= raw) return factor * power;
  }
  return 10 * power;
}

// A count of tenths as a number, "12.3" or "-0.5" (with `sign`, "+0.5"), and the end: printf's
// floating-point conversion would cost more than the rest of the picture. At most 13 characters.
char* writeTenths(char* at, std::int32_t tenths, bool sign = false) {
  if (tenths < 0 || sign) *at++ = tenths < 0 ? '-' : '+';
  std::uint32_t magnitude =
      tenths < 0 ? 0u - static_cast<std::uint32_t>(tenths) : static_cast<std::uint32_t>(tenths);
  char digits[10];
  int length = 0;
  std::uint32_t whole = magnitude / 10;
  do {
    digits[length++] = static_cast<char>('0' + whole % 10);
    whole /= 10;
  } while (whole > 0);
  while (length > 0) *at++ = digits[--length];
  *at++ = '.';
  *at++ = static_cast<char>('0' + magnitude % 10);
  return at;
}

// A step between points, most often under ten pixels either way.
char* writeStep(char* at, std::int32_t tenths) {
  if (tenths <= -100 || tenths >= 100) return writeTenths(at, tenths);
  if (tenths < 0) *at++ = '-';
  auto magnitude = static_cast<std::uint32_t>(tenths < 0 ? -tenths : tenths);
  *at++ = static_cast<char>('0' + magnitude / 10);
  *at++ = '.';
  *at++ = static_cast<char>('0' + magnitude % 10);
  return at;
}

// The nearest count of tenths; a value far beyond any picture is cut to what the count holds.
std::int32_t tenthsOf(double value) {
  double scaled = std::clamp(value * 10, -1e9, 1e9);
  return static_cast<std::int32_t>(scaled < 0 ? scaled - 0.5 : scaled + 0.5);
}

struct Tenths {
  char text[16];
};
Tenths tenths(double value, bool sign = false) {
  Tenths result{};
  writeTenths(result.text, tenthsOf(value), sign);
  return result;
}

// A line through points, as the `d` of an SVG path: each point after the first relative to the
// one before, so that most take a few digits.
struct PathText {
  explicit PathText(std::size_t points) : d(new char[points * kMostPerPoint + 1]) {}
  static constexpr std::size_t kMostPerPoint = 2 * 13 + 3;
  std::unique_ptr<char[]> d;
  std::size_t length = 0;
  std::int32_t x = 0;
  std::int32_t y = 0;

  const char* text() {
    d[length] = 0;
    return d.get();
  }
};
void addToPath(PathText& path, double x, double y, bool move) {
  std::int32_t tx = tenthsOf(x);
  std::int32_t ty = tenthsOf(y);
  char* start = path.d.get() + path.length;
  char* at = start;
  if (move) {
    *at++ = 'M';
    at = writeTenths(at, tx);
    *at++ = ' ';
    at = writeTenths(at, ty);
    *at++ = 'l';
  } else {
    at = writeStep(at, tx - path.x);
    *at++ = ' ';
    at = writeStep(at, ty - path.y);
    *at++ = ' ';
  }
  path.length += static_cast<std::size_t>(at - start);
  path.x = tx;
  path.y = ty;
}

struct Frame {
  double left, top, width, height;
};

// Where a panel draws its lines, and the scales it draws them on.
struct Area {
  double left, top, right, bottom;
  std::int64_t bytes;  // the recording's length, the x axis's end
  double low, high;    // seconds, the y axis's ends

  double x(std::int64_t offset) const {
    return left + (right - left) * static_cast<double>(offset) / static_cast<double>(bytes);
  }
  double y(double seconds) const {
    return bottom - (bottom - top) * (seconds - low) / (high - low);
  }
};

const char* markClass(MarkKind kind) {
  constexpr const char* kClasses[] = {"joint", "wrap",      "pmt-change", "errored",
                                      "drop",  "scrambled", "sync-lost"};
  return kClasses[static_cast<int>(kind)];
}

const char* markColour(MarkKind kind) {
  constexpr const char* kColours[] = {"#2ca02c", "#9467bd", "#17becf", "#d62728",
                                      "#e377c2", "#7f7f7f", "#000000"};
  return kColours[static_cast<int>(kind)];
}

std::string pidText(std::int64_t pid) { return pid == 0 ? "none" : formatted("0x%04llX", ll(pid)); }

// What a mark is and where, as its <title> says it.
std::string markTitle(const PlotMark& mark) {
  auto place = [&mark](const char* one, const char* many) {
    return mark.events == 1 ? formatted("%s at byte %lld", one, ll(mark.offset))
                            : formatted("%lld %s at bytes %lld to %lld", ll(mark.events), many,
                                        ll(mark.offset), ll(mark.lastOffset));
  };
  switch (mark.kind) {
    case MarkKind::joint:
    case MarkKind::wrap:
      return formatted("%s at byte %lld, %s s", markClass(mark.kind), ll(mark.offset),
                       tenths(static_cast<double>(mark.value) / 90000.0, true).text);
    case MarkKind::pmtChange:
      return formatted("PMT change at byte %lld: %s PID %s to %s", ll(mark.offset),
                       roleNames(mark.role).key, pidText(mark.previous).c_str(),
                       pidText(mark.value).c_str());
    case MarkKind::errored:
      return place("errored packet", "errored packets") +
             (mark.events == 1 ? formatted(", PID 0x%04X", mark.pid) : std::string());
    case MarkKind::drop:
      return place("drop", "drops") + (mark.events == 1
                                           ? formatted(", PID 0x%04X, counter %lld, expected %lld",
                                                       mark.pid, ll(mark.value), ll(mark.previous))
                                           : std::string());
    case MarkKind::scrambled:
      return formatted("%lld scrambled packets between bytes %lld and %lld", ll(mark.count),
                       ll(mark.offset), ll(mark.lastOffset));
    case MarkKind::syncLost:
      return place("sync lost", "losses of sync") +
             formatted(", %lld bytes passed through", ll(mark.count));
  }
  return std::string();
}

// A damage mark: a tick under the x axis, as wide as the stretch it stands for; the whole
// stream's in a row of their own.
void drawDamage(Plot& plot, const Area& area, const PlotMark& mark, bool wholeStream) {
  double from = area.x(mark.offset);
  double width = std::max(2.0, area.x(mark.lastOffset) - from);
  printTo(plot.file,
          "<g class=\"mark %s%s\"><title>%s</title><rect x=\"%s\" y=\"%s\" width=\"%s\" "
          "height=\"4\" fill=\"%s\"/></g>\n",
          markClass(mark.kind), wholeStream ? " whole-stream" : "",
          xmlText(markTitle(mark)).c_str(), tenths(from - 1).text,
          tenths(area.bottom + (wholeStream ? 7 : 2)).text, tenths(width).text,
          markColour(mark.kind));
}

// A joint or a wrap: a line across the area with its gap above; a PMT change: a tick on the axis.
void drawMark(Plot& plot, const Area& area, const PlotMark& mark) {
  double x = area.x(mark.offset);
  std::string title = xmlText(markTitle(mark));
  if (mark.kind == MarkKind::pmtChange) {
    printTo(plot.file,
            "<g class=\"mark pmt-change\"><title>%s</title><path d=\"M%s %sl-4 -8h8z\" "
            "fill=\"%s\"/></g>\n",
            title.c_str(), tenths(x).text, tenths(area.bottom).text, markColour(mark.kind));
    return;
  }
  printTo(plot.file,
          "<g class=\"mark %s\"><title>%s</title><line x1=\"%s\" y1=\"%s\" x2=\"%s\" "
          "y2=\"%s\" stroke=\"%s\" stroke-dasharray=\"%s\"/><text x=\"%s\" y=\"%s\" "
          "fill=\"%s\" font-size=\"10\">%s s</text></g>\n",
          markClass(mark.kind), title.c_str(), tenths(x).text, tenths(area.top).text,
          tenths(x).text, tenths(area.bottom).text, markColour(mark.kind),
          mark.kind == MarkKind::joint ? "6 3" : "2 2", tenths(x + 2).text,
          tenths(area.top + 10).text, markColour(mark.kind),
          tenths(static_cast<double>(mark.value) / 90000.0, true).text);
}

void drawLine(Plot& plot, double x1, double y1, double x2, double y2, const char* stroke) {
  printTo(plot.file, "<line x1=\"%s\" y1=\"%s\" x2=\"%s\" y2=\"%s\" stroke=\"%s\"/>\n",
          tenths(x1).text, tenths(y1).text, tenths(x2).text, tenths(y2).text, stroke);
}

// `text` is XML already; `style` holds its attributes besides the place.
void drawText(Plot& plot, double x, double y, const char* style, const std::string& text) {
  printTo(plot.file, "<text x=\"%s\" y=\"%s\" %s>%s</text>\n", tenths(x).text, tenths(y).text,
          style, text.c_str());
}

// The points of a panel, the last sample included.
std::vector<PlotPoint> pointsOf(const PlotPanel& panel) {
  std::vector<PlotPoint> points = panel.points;
  if (panel.samples > 0 && (points.empty() || points.back().offset != panel.last.offset)) {
    PlotPoint last = panel.last;
    last.opensStretch = panel.breakPending;
    points.push_back(last);
  }
  return points;
}

// A panel in its own viewport, which cuts off what does not fit (a long heading in a grid), and
// which its drawing is placed in from 0, 0.
void drawPanel(Plot& plot, const PlotPanel& panel, Frame place, std::int64_t bytes,
               const ReportEnd& end) {
  printTo(plot.file, "<svg x=\"%s\" y=\"%s\" width=\"%s\" height=\"%s\">\n",
          tenths(place.left).text, tenths(place.top).text, tenths(place.width).text,
          tenths(place.height).text);
  Frame frame{0, 0, place.width, place.height};
  printTo(plot.file, "<g class=\"panel\" id=\"program-%d\">\n", panel.program);
  printTo(plot.file,
          "<rect x=\"%s\" y=\"%s\" width=\"%s\" height=\"%s\" fill=\"none\" stroke=\"#cccccc\"/>\n",
          tenths(frame.left + 2).text, tenths(frame.top + 2).text, tenths(frame.width - 4).text,
          tenths(frame.height - 4).text);
  const std::int64_t* marks = panel.markCounts;
  std::string counts =
      (panel.fromPts ? formatted("no PCR: the times are PID 0x%04X's PTS; ", panel.anchor)
                     : std::string()) +
      counted(marks[static_cast<int>(MarkKind::joint)], "joint", "joints") + ", " +
      counted(marks[static_cast<int>(MarkKind::wrap)], "wrap", "wraps") + ", " +
      counted(marks[static_cast<int>(MarkKind::pmtChange)], "PMT change", "PMT changes") + "; " +
      counted(panel.packets, "packet", "packets") +
      formatted(": %lld errored, %lld dropped, %lld scrambled", ll(panel.counts.errors),
                ll(panel.counts.drops), ll(panel.counts.scrambled));
  if (panel.unmarked > 0) counts += formatted(" (%lld more marks not drawn)", ll(panel.unmarked));
  drawText(plot, frame.left + 8, frame.top + 16, "font-weight=\"bold\"", xmlText(panel.heading));
  drawText(plot, frame.left + 8, frame.top + 30, "font-size=\"10\"", xmlText(counts));

  std::vector<PlotPoint> points = pointsOf(panel);
  Area area{frame.left + 56,
            frame.top + 42,
            frame.left + frame.width - 14,
            frame.top + frame.height - 44,
            std::max<std::int64_t>(bytes, 1),
            0,
            1};
  // Each line's seconds from its own first point.
  auto sourceSeconds = [&](const PlotPoint& point) {
    return static_cast<double>(point.source - points.front().source) / kPcrHz;
  };
  auto outputSeconds = [&](const PlotPoint& point) {
    return static_cast<double>(point.output - points.front().output) / kPcrHz;
  };
  for (const PlotPoint& point : points) {
    area.low = std::min({area.low, sourceSeconds(point), outputSeconds(point)});
    area.high = std::max({area.high, sourceSeconds(point), outputSeconds(point)});
  }
  double step = niceStep(area.high - area.low, 5);
  area.low = std::floor(area.low / step) * step;
  area.high = std::max(area.low + step, std::ceil(area.high / step) * step);
  for (double tick = area.low; tick <= area.high + step / 2; tick += step) {
    drawLine(plot, area.left, area.y(tick), area.right, area.y(tick), "#eeeeee");
    drawText(plot, area.left - 4, area.y(tick) + 3, "font-size=\"10\" text-anchor=\"end\"",
             formatted("%g s", tick));
  }
  // The x axis: MB, and under it the output's time there.
  double megabytes = static_cast<double>(area.bytes) / 1048576.0;
  double mbStep = niceStep(megabytes, area.right - area.left > 600 ? 10 : 5);
  for (double mb = 0; mb <= megabytes + 1e-9; mb += mbStep) {
    auto offset = static_cast<std::int64_t>(mb * 1048576.0);
    double x = area.x(offset);
    drawLine(plot, x, area.bottom, x, area.bottom + 16, "#999999");
    drawText(plot, x, area.bottom + 26, "font-size=\"10\" text-anchor=\"middle\"",
             formatted("%g MB", mb));
    auto at = std::upper_bound(
        points.begin(), points.end(), offset,
        [](std::int64_t value, const PlotPoint& point) { return value < point.offset; });
    if (at != points.begin() || (!points.empty() && offset == 0)) {
      if (at == points.begin()) ++at;
      drawText(plot, x, area.bottom + 38,
               "font-size=\"10\" text-anchor=\"middle\" fill=\"#1f77b4\"",
               clockText(std::prev(at)->output));
    }
  }
  drawLine(plot, area.left, area.bottom, area.right, area.bottom, "#333333");

  // The lines: the repaired one whole, the source's broken at each joint.
  if (!points.empty()) {
    PathText source(points.size());
    PathText output(points.size());
    int lastColumn = -1;
    for (const PlotPoint& point : points) {
      double x = area.x(point.offset);
      bool first = &point == &points.front();
      // A line shows one point in each column of pixels; a break and the end are kept.
      auto column = static_cast<int>(x);
      if (column == lastColumn && !point.opensStretch && &point != &points.back()) continue;
      lastColumn = column;
      addToPath(source, x, area.y(sourceSeconds(point)), first || point.opensStretch);
      addToPath(output, x, area.y(outputSeconds(point)), first);
    }
    printTo(plot.file,
            "<path class=\"source\" fill=\"none\" stroke=\"#ff7f0e\" stroke-width=\"3\" "
            "d=\"%s\"/>\n<path class=\"output\" fill=\"none\" "
            "stroke=\"#1f77b4\" stroke-width=\"1.5\" d=\"%s\"/>\n",
            source.text(), output.text());
  } else {
    drawText(plot, area.left + 8, (area.top + area.bottom) / 2, "fill=\"#999999\"",
             "no timestamps were rebased");
  }
  for (const PlotMark& mark : panel.marks) drawMark(plot, area, mark);
  for (const PlotMark& mark : panel.damage.marks) drawDamage(plot, area, mark, false);
  for (const PlotMark& mark : plot.streamDamage.marks) drawDamage(plot, area, mark, true);
  // Where a stopped run's destination ends.
  if (std::string_view(end.outcome) != "complete" && end.sizes.destination >= 0 &&
      end.sizes.destination < area.bytes) {
    double x = area.x(end.sizes.destination);
    printTo(plot.file,
            "<g class=\"mark end\"><title>%s at byte %lld: %s</title><line x1=\"%s\" y1=\"%s\" "
            "x2=\"%s\" y2=\"%s\" stroke=\"#d62728\" stroke-width=\"2\"/></g>\n",
            end.outcome, ll(end.sizes.destination), end.reason, tenths(x).text,
            tenths(area.top).text, tenths(x).text, tenths(area.bottom).text);
  }
  printTo(plot.file, "</g>\n</svg>\n");
}

}  // namespace

IoStatus finishPlot(Plot& plot, const ReportEnd& end) {
  if (!plotWanted(plot)) return IoStatus{};
  std::vector<const PlotPanel*> shown;
  std::int64_t bytes = std::max<std::int64_t>(end.sizes.sourceRead, end.sizes.sourceFile);
  for (const PlotPanel& panel : plot.panels) {
    if (!panel.repaired) continue;
    shown.push_back(&panel);
    if (!panel.points.empty()) bytes = std::max(bytes, panel.last.offset + kPacketSize);
  }
  std::sort(shown.begin(), shown.end(),
            [](const PlotPanel* a, const PlotPanel* b) { return a->order < b->order; });
  // One column up to four services; beyond, up to eight columns of smaller panels.
  auto count = static_cast<int>(shown.size());
  int columns = count <= 4 ? 1 : count <= 16 ? 2 : count <= 64 ? 4 : 8;
  double panelWidth = columns == 1 ? 960 : 480;
  double panelHeight = columns == 1 ? 320 : 240;
  int rows = std::max(1, (count + columns - 1) / columns);
  double headHeight = 64;
  std::vector<std::string> notes;  // what the console said of a run that did not complete
  if (std::string_view(end.outcome) != "complete") {
    std::size_t from = 0;
    while (from < end.console.size() && notes.size() < 8) {
      std::size_t to = end.console.find('\n', from);
      if (to == std::string::npos) to = end.console.size();
      if (to > from) notes.push_back(end.console.substr(from, to - from));
      from = to + 1;
    }
    headHeight += 14.0 * static_cast<double>(notes.size()) + 4;
  }
  double width = panelWidth * columns;
  double height = headHeight + panelHeight * (count == 0 ? 0 : rows) + 8;

  printTo(plot.file,
          "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<svg xmlns=\"http://www.w3.org/2000/svg\" "
          "width=\"%.0f\" height=\"%.0f\" viewBox=\"0 0 %.0f %.0f\" font-family=\"sans-serif\" "
          "font-size=\"12\">\n",
          width, height, width, height);
  printTo(plot.file, "<title>corvane: %s</title>\n", xmlText(plot.source).c_str());
  printTo(plot.file, "<rect width=\"100%%\" height=\"100%%\" fill=\"#ffffff\"/>\n");
  printTo(
      plot.file, "<text x=\"8\" y=\"18\" font-size=\"14\" font-weight=\"bold\">%s</text>\n",
      xmlText("corvane " CORVANE_VERSION ": " + plot.source + " \xE2\x86\x92 " + plot.destination)
          .c_str());
  // What befell the whole stream: its lost sync, and the damage of PIDs no service owns.
  std::int64_t stream[kMarkKinds] = {};
  std::int64_t syncLostBytes = 0;
  for (const PlotMark& mark : plot.streamDamage.marks) {
    stream[static_cast<int>(mark.kind)] += mark.events;
    if (mark.kind == MarkKind::syncLost) syncLostBytes += mark.count;
  }
  std::string summary = end.outcome;
  if (std::string_view(end.reason) != "none") summary += formatted(" (%s)", end.reason);
  summary += formatted("; %.1f MB; ", static_cast<double>(bytes) / 1048576.0) +
             counted(count, "service", "services") + " repaired with " +
             counted(plot.packets, "packet", "packets") +
             formatted(
                 ": %lld errored, %lld dropped, %lld scrambled; besides, %lld errored and "
                 "%lld dropped; sync lost %lld times (%lld bytes)",
                 ll(plot.counts.errors), ll(plot.counts.drops), ll(plot.counts.scrambled),
                 ll(stream[static_cast<int>(MarkKind::errored)]),
                 ll(stream[static_cast<int>(MarkKind::drop)]),
                 ll(stream[static_cast<int>(MarkKind::syncLost)]), ll(syncLostBytes));
  printTo(plot.file, "<text x=\"8\" y=\"36\">%s</text>\n", xmlText(summary).c_str());
  printTo(plot.file,
          "<text x=\"8\" y=\"54\" font-size=\"11\"><tspan fill=\"#ff7f0e\">\xE2\x94\x81 source "
          "PCR</tspan>  <tspan fill=\"#1f77b4\">\xE2\x94\x81 repaired PCR</tspan>  (seconds from "
          "each line's first; x: place in the recording, and the repaired time there)</text>\n");
  for (std::size_t i = 0; i < notes.size(); ++i) {
    printTo(plot.file, "<text x=\"8\" y=\"%.0f\" fill=\"#d62728\">%s</text>\n",
            72 + 14.0 * static_cast<double>(i), xmlText(notes[i]).c_str());
  }
  for (int i = 0; i < count; ++i) {
    Frame frame{panelWidth * (i % columns), headHeight + panelHeight * (i / columns), panelWidth,
                panelHeight};
    drawPanel(plot, *shown[static_cast<std::size_t>(i)], frame, bytes, end);
  }
  printTo(plot.file, "</svg>\n");
  return finishOutputFile(plot.file);
}

void abandonPlot(Plot& plot) { abandonOutputFile(plot.file); }

}  // namespace corvane
