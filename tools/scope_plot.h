// What rvxctl scope records, and its CSV and SVG renderings.
#ifndef RVX_TOOLS_SCOPE_PLOT_H_
#define RVX_TOOLS_SCOPE_PLOT_H_

#include <cstdint>
#include <string>
#include <vector>

namespace rvxctl {

struct ScopeRecord {
  uint16_t board = 0;
  std::vector<uint16_t> axes;
  std::string title;  // the command that ran
  std::vector<double> seconds;
  // Per sample, per axis: command position, real position, speed (PPS).
  struct Point {
    int32_t command, actual, speed;
  };
  std::vector<std::vector<Point>> points;
};

std::string ScopeCsv(const ScopeRecord& record);
// Position (pulses) and speed (PPS) against time (s), one panel per axis.
std::string ScopeSvg(const ScopeRecord& record);

}  // namespace rvxctl

#endif  // RVX_TOOLS_SCOPE_PLOT_H_
