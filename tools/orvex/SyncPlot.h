// The picture `orvex sync --plot` writes: time series drawn as an SVG file of
// stacked panels, written directly (no plotting library), so that a user
// sees convergence at a glance.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace orvex::cli {

struct PlotSeries {
    std::string name;                              // legend text
    std::vector<std::pair<double, double>> points; // (seconds, value), in time order
};

struct PlotPanel {
    std::string title; // e.g. "disagreement with the master (ticks)"
    std::vector<PlotSeries> series;
};

// Writes the panels one above the other over a shared time axis from 0 to
// `seconds`. A panel without points shows its title and "no data".
void writeSvgPlot(std::ostream& out, const std::vector<PlotPanel>& panels, double seconds);

} // namespace orvex::cli
