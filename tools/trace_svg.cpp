// A timeline picture in SVG that a browser shows directly: one row per
// tile, each step a rectangle coloured by its kind with the step's details
// in a tooltip, a legend on top and a time axis below.

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <sstream>

#include "profile_views.hpp"
#include "text_format.hpp"
#include "trace_writers.hpp"

namespace morvex_package::tool {
namespace {

// Geometry, in SVG user units (pixels).
constexpr double kLabelWidth = 80;
constexpr double kPlotWidth = 960;
constexpr double kRightMargin = 30;
constexpr double kPlotTop = 64;
constexpr double kRowHeight = 18;
constexpr double kRowGap = 4;
constexpr double kAxisHeight = 40;
constexpr double kMinStepWidth = 0.5;  // keeps short steps visible

struct KindStyle {
  ProfileStepKind kind;
  const char* colour;
};
constexpr std::array<KindStyle, 4> kKindStyles{{{ProfileStepKind::Exchange, "#4e79a7"},
                                                {ProfileStepKind::Compute, "#59a14f"},
                                                {ProfileStepKind::Synchronization, "#f28e2b"},
                                                {ProfileStepKind::Idle, "#bab0ac"}}};

const char* kind_colour(ProfileStepKind kind) {
  for (const auto& style : kKindStyles) {
    if (style.kind == kind) return style.colour;
  }
  return "#000000";
}

// Text for element content and attribute values. XML 1.0 has no way to
// write most control characters, not even as references, and excludes
// U+FFFE and U+FFFF: those become U+FFFD. Texts are valid UTF-8 here, as
// the library guarantees for everything it reads.
std::string xml_text(std::string_view text) {
  static constexpr std::string_view kReplacement = "\xEF\xBF\xBD";
  std::string escaped;
  escaped.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    switch (text[i]) {
      case '&': escaped += "&amp;"; continue;
      case '<': escaped += "&lt;"; continue;
      case '>': escaped += "&gt;"; continue;
      case '"': escaped += "&quot;"; continue;
      case '\'': escaped += "&apos;"; continue;
      default: break;
    }
    if (byte < 0x20 && byte != '\t' && byte != '\n' && byte != '\r') {
      escaped += kReplacement;
    } else if (text.substr(i, 3) == "\xEF\xBF\xBE" || text.substr(i, 3) == "\xEF\xBF\xBF") {
      escaped += kReplacement;
      i += 2;
    } else {
      escaped += text[i];
    }
  }
  return escaped;
}

std::string number(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f", value);
  return text;
}

// The unit of the time axis: seconds scaled to keep tick labels short, or
// plain cycles when the clock rate is unknown.
struct AxisUnit {
  double cycles_per_unit;
  std::string name;
};

AxisUnit axis_unit(std::uint64_t span_cycles, std::uint64_t clock_hz) {
  if (clock_hz == 0) return {1.0, "cycles"};
  const double seconds = cycles_to_seconds(span_cycles, clock_hz);
  const auto hz = static_cast<double>(clock_hz);
  if (seconds >= 1) return {hz, "s"};
  if (seconds >= 1e-3) return {hz * 1e-3, "ms"};
  if (seconds >= 1e-6) return {hz * 1e-6, "us"};
  return {hz * 1e-9, "ns"};
}

// 1, 2 or 5 times a power of ten, giving about eight ticks over the span.
double tick_step(double span) {
  const double raw = span / 8;
  if (!(raw > 0)) return 1;
  const double magnitude = std::pow(10.0, std::floor(std::log10(raw)));
  for (const double factor : {1.0, 2.0, 5.0}) {
    if (factor * magnitude >= raw) return factor * magnitude;
  }
  return 10 * magnitude;
}

class SvgTimeline {
 public:
  SvgTimeline(const ProfileReport& report) : report_(report), timelines_(lay_out(report)) {
    for (const auto& timeline : timelines_) span_ = std::max(span_, timeline.end);
    span_ = std::max<std::uint64_t>(span_, 1);  // an empty report still gets an axis
  }

  std::string render() {
    const double height =
        kPlotTop + static_cast<double>(timelines_.size()) * (kRowHeight + kRowGap) + kAxisHeight;
    const double width = kLabelWidth + kPlotWidth + kRightMargin;
    out_ << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
         << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << number(width) << "\" height=\""
         << number(height) << "\" viewBox=\"0 0 " << number(width) << ' ' << number(height)
         << "\" font-family=\"sans-serif\" font-size=\"12\">\n"
         << "<rect width=\"100%\" height=\"100%\" fill=\"#ffffff\"/>\n";
    title();
    legend();
    for (std::size_t row = 0; row < timelines_.size(); ++row) tile_row(row);
    axis(kPlotTop + static_cast<double>(timelines_.size()) * (kRowHeight + kRowGap));
    out_ << "</svg>\n";
    return out_.str();
  }

 private:
  double x_of(std::uint64_t cycles) const {
    return kLabelWidth + static_cast<double>(cycles) / static_cast<double>(span_) * kPlotWidth;
  }
  double row_top(std::size_t row) const {
    return kPlotTop + static_cast<double>(row) * (kRowHeight + kRowGap);
  }

  void title() {
    std::string text = "cycle profile: " + counted(report_.tiles.size(), "tile") + ", clock ";
    text += report_.clock_hz == 0 ? "unknown (cycles shown)" : std::to_string(report_.clock_hz) + " Hz";
    out_ << "<text x=\"10\" y=\"20\" font-size=\"14\" font-weight=\"bold\">" << xml_text(text) << "</text>\n";
  }

  void legend() {
    double x = kLabelWidth;
    for (const auto& style : kKindStyles) {
      const std::string name = kind_name(style.kind);
      out_ << "<rect x=\"" << number(x) << "\" y=\"32\" width=\"12\" height=\"12\" fill=\"" << style.colour
           << "\"/>\n<text x=\"" << number(x + 16) << "\" y=\"42\">" << xml_text(name) << "</text>\n";
      x += 40 + 7.0 * static_cast<double>(name.size());
    }
  }

  std::string step_tooltip(const TimedSample& timed) const {
    const ProfileStep& step = timed.sample->step;
    std::string text = step.operation.empty() ? "(unnamed)" : step.operation;
    text += " - " + kind_name(step.kind);
    if (!step.kernel.empty()) text += ", kernel " + step.kernel;
    text += ": " + counted(timed.cycles, "cycle");
    if (report_.clock_hz != 0)
      text += ", " + duration_text(cycles_to_seconds(timed.cycles, report_.clock_hz));
    for (const auto& entry : step.metadata) text += "\n" + entry.name + " = " + entry.value;
    return text;
  }

  void tile_row(std::size_t row) {
    const TileTimeline& timeline = timelines_[row];
    const double top = row_top(row);
    out_ << "<text x=\"10\" y=\"" << number(top + kRowHeight - 5) << "\">tile " << timeline.physical_tile
         << "</text>\n<g>\n";
    for (const auto& timed : timeline.samples) {
      const double x = x_of(timed.start);
      const double width = std::max(x_of(timed.start + timed.cycles) - x, kMinStepWidth);
      out_ << "<rect x=\"" << number(x) << "\" y=\"" << number(top) << "\" width=\"" << number(width)
           << "\" height=\"" << number(kRowHeight) << "\" fill=\"" << kind_colour(timed.sample->step.kind)
           << "\" stroke=\"#ffffff\" stroke-width=\"0.5\"><title>" << xml_text(step_tooltip(timed))
           << "</title></rect>\n";
    }
    out_ << "</g>\n";
  }

  void axis(double top) {
    const AxisUnit unit = axis_unit(span_, report_.clock_hz);
    const double span_units = static_cast<double>(span_) / unit.cycles_per_unit;
    const double step = tick_step(span_units);
    out_ << "<line x1=\"" << number(kLabelWidth) << "\" y1=\"" << number(top) << "\" x2=\""
         << number(kLabelWidth + kPlotWidth) << "\" y2=\"" << number(top) << "\" stroke=\"#333333\"/>\n";
    for (double tick = 0; tick <= span_units * (1 + 1e-9); tick += step) {
      const double x = kLabelWidth + tick / span_units * kPlotWidth;
      char label[48];
      std::snprintf(label, sizeof label, "%g", tick);
      out_ << "<line x1=\"" << number(x) << "\" y1=\"" << number(top) << "\" x2=\"" << number(x) << "\" y2=\""
           << number(top + 5) << "\" stroke=\"#333333\"/>\n<text x=\"" << number(x) << "\" y=\""
           << number(top + 18) << "\" text-anchor=\"middle\">" << label << "</text>\n";
    }
    out_ << "<text x=\"" << number(kLabelWidth + kPlotWidth) << "\" y=\"" << number(top + 34)
         << "\" text-anchor=\"end\">time (" << xml_text(unit.name) << ")</text>\n";
  }

  const ProfileReport& report_;
  std::vector<TileTimeline> timelines_;
  std::uint64_t span_ = 0;
  std::ostringstream out_;
};

}  // namespace

std::string svg_timeline(const ProfileReport& report) { return SvgTimeline(report).render(); }

}  // namespace morvex_package::tool
