#include "tools/scope_plot.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace rvxctl {
namespace {

std::string Format(const char* format, double a, double b = 0, double c = 0, double d = 0) {
  char text[160];
  snprintf(text, sizeof text, format, a, b, c, d);
  return text;
}

// Round tick steps (1, 2, 5 x 10^n) covering [low, high] in about five steps;
// widens the range to whole steps.
std::vector<double> Ticks(double* low, double* high) {
  if (*high <= *low) {
    *low -= 1;
    *high += 1;
  }
  const double rough = (*high - *low) / 5;
  const double power = std::pow(10, std::floor(std::log10(rough)));
  double step = power;
  for (double m : {1.0, 2.0, 5.0, 10.0}) {
    step = m * power;
    if (step >= rough) break;
  }
  *low = std::floor(*low / step) * step;
  *high = std::ceil(*high / step) * step;
  std::vector<double> ticks;
  for (double t = *low; t <= *high + step / 2; t += step)
    ticks.push_back(std::abs(t) < step / 1e6 ? 0 : t);
  return ticks;
}

std::string Label(double value) {
  if (std::abs(value) >= 1e6) return Format("%g", value);
  return Format("%.10g", value);
}

std::string Escape(const std::string& text) {
  std::string out;
  for (char c : text) {
    out += c == '<' ? "&lt;" : c == '>' ? "&gt;" : c == '&' ? "&amp;" : std::string(1, c);
  }
  return out;
}

constexpr double kWidth = 820, kPanel = 280, kLeft = 90, kRight = 90, kTop = 40, kBottom = 50;

}  // namespace

std::string ScopeCsv(const ScopeRecord& r) {
  std::string out = "time_s";
  for (uint16_t a : r.axes) {
    out += Format(",axis%.0f_command_pulses,axis%.0f_actual_pulses,axis%.0f_speed_pps", a, a, a);
  }
  out += "\n";
  for (size_t i = 0; i < r.seconds.size(); ++i) {
    out += Format("%.4f", r.seconds[i]);
    for (const ScopeRecord::Point& p : r.points[i]) {
      out += Format(",%.0f,%.0f,%.0f", p.command, p.actual, p.speed);
    }
    out += "\n";
  }
  return out;
}

std::string ScopeSvg(const ScopeRecord& r) {
  const double height = kTop + r.axes.size() * kPanel;
  std::string svg = Format(
      "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%.0f\" height=\"%.0f\" "
      "font-family=\"sans-serif\" font-size=\"12\">\n<rect width=\"100%%\" height=\"100%%\" "
      "fill=\"white\"/>\n",
      kWidth, height);
  svg += "<text x=\"" + Format("%.0f", kWidth / 2) +
         "\" y=\"22\" text-anchor=\"middle\" font-size=\"14\">" + Escape(r.title) + "</text>\n";
  double t_low = 0, t_high = r.seconds.empty() ? 1 : r.seconds.back();
  const std::vector<double> t_ticks = Ticks(&t_low, &t_high);
  const double x0 = kLeft, x1 = kWidth - kRight;
  auto x_of = [&](double t) { return x0 + (t - t_low) / (t_high - t_low) * (x1 - x0); };
  for (size_t k = 0; k < r.axes.size(); ++k) {
    const double y0 = kTop + k * kPanel + 10, y1 = kTop + (k + 1) * kPanel - kBottom;
    double p_low = 0, p_high = 0, s_low = 0, s_high = 0;
    for (const auto& row : r.points) {
      p_low = std::min({p_low, double(row[k].command), double(row[k].actual)});
      p_high = std::max({p_high, double(row[k].command), double(row[k].actual)});
      s_low = std::min(s_low, double(row[k].speed));
      s_high = std::max(s_high, double(row[k].speed));
    }
    const std::vector<double> p_ticks = Ticks(&p_low, &p_high);
    const std::vector<double> s_ticks = Ticks(&s_low, &s_high);
    auto y_of = [&](double v, double low, double high) {
      return y1 - (v - low) / (high - low) * (y1 - y0);
    };
    svg += Format(
        "<g>\n<rect x=\"%.0f\" y=\"%.0f\" width=\"%.0f\" height=\"%.0f\" fill=\"none\" "
        "stroke=\"#888\"/>\n",
        x0, y0, x1 - x0, y1 - y0);
    for (double t : t_ticks) {
      const double x = x_of(t);
      svg += Format("<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" stroke=\"#eee\"/>\n", x,
                    y0, x, y1);
      svg += Format("<text x=\"%.1f\" y=\"%.1f\" text-anchor=\"middle\">", x, y1 + 16) + Label(t) +
             "</text>\n";
    }
    for (double v : p_ticks) {
      const double y = y_of(v, p_low, p_high);
      svg += Format("<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" stroke=\"#eee\"/>\n", x0,
                    y, x1, y);
      svg += Format("<text x=\"%.1f\" y=\"%.1f\" text-anchor=\"end\" fill=\"#1f5fbf\">", x0 - 6,
                    y + 4) +
             Label(v) + "</text>\n";
    }
    for (double v : s_ticks) {
      svg += Format("<text x=\"%.1f\" y=\"%.1f\" fill=\"#2a8a2a\">", x1 + 6,
                    y_of(v, s_low, s_high) + 4) +
             Label(v) + "</text>\n";
    }
    svg += Format("<text x=\"%.1f\" y=\"%.1f\" text-anchor=\"middle\">time (s)</text>\n",
                  (x0 + x1) / 2, y1 + 34);
    svg += Format(
               "<text transform=\"translate(%.1f,%.1f) rotate(-90)\" text-anchor=\"middle\" "
               "fill=\"#1f5fbf\">",
               x0 - 62, (y0 + y1) / 2) +
           Format("axis %.0f position (pulses)</text>\n", r.axes[k]);
    svg += Format(
        "<text transform=\"translate(%.1f,%.1f) rotate(90)\" text-anchor=\"middle\" "
        "fill=\"#2a8a2a\">speed (PPS)</text>\n",
        x1 + 70, (y0 + y1) / 2);
    struct Trace {
      int which;
      const char* style;
    };
    const Trace traces[] = {{0, "stroke=\"#1f5fbf\" stroke-width=\"2\""},
                            {1, "stroke=\"#e07b00\" stroke-dasharray=\"5,4\""},
                            {2, "stroke=\"#2a8a2a\""}};
    for (const Trace& trace : traces) {
      std::string line;
      for (size_t i = 0; i < r.seconds.size(); ++i) {
        const ScopeRecord::Point& p = r.points[i][k];
        const double y = trace.which == 2
                             ? y_of(p.speed, s_low, s_high)
                             : y_of(trace.which == 0 ? p.command : p.actual, p_low, p_high);
        line += Format("%.1f,%.1f ", x_of(r.seconds[i]), y);
      }
      svg += "<polyline fill=\"none\" " + std::string(trace.style) + " points=\"" + line + "\"/>\n";
    }
    svg += Format("<text x=\"%.1f\" y=\"%.1f\" fill=\"#1f5fbf\">command position</text>\n", x0 + 8,
                  y0 + 16);
    svg += Format("<text x=\"%.1f\" y=\"%.1f\" fill=\"#e07b00\">actual position (dashed)</text>\n",
                  x0 + 130, y0 + 16);
    svg += Format("<text x=\"%.1f\" y=\"%.1f\" fill=\"#2a8a2a\">speed</text>\n", x0 + 290, y0 + 16);
    svg += "</g>\n";
  }
  return svg + "</svg>\n";
}

}  // namespace rvxctl
