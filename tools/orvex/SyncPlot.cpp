// Draws `orvex sync --plot`'s SVG: stacked panels of time series.
#include "SyncPlot.h"

#include <algorithm>
#include <cmath>
#include <iomanip>
#include <limits>
#include <sstream>

namespace orvex::cli {
namespace {

constexpr double kWidth = 860.0;
constexpr double kPanelHeight = 260.0;
constexpr double kLeft = 90.0;   // room for the value labels
constexpr double kRight = 200.0; // room for the legend
constexpr double kTop = 30.0;    // room for the title
constexpr double kBottom = 40.0; // room for the time labels
constexpr int kTicks = 5;
const char* const kColours[] = {"#1f77b4", "#d62728", "#2ca02c", "#9467bd", "#ff7f0e", "#8c564b"};

std::string escaped(const std::string& text)
{
    std::string out;
    for (char c : text) {
        switch (c) {
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '&':
            out += "&amp;";
            break;
        default:
            out += c;
        }
    }
    return out;
}

std::string number(double value)
{
    std::ostringstream text;
    text << std::setprecision(4) << value;
    return text.str();
}

// The panel's value range, widened so that a flat series still has height.
std::pair<double, double> valueRange(const PlotPanel& panel)
{
    double low = std::numeric_limits<double>::infinity();
    double high = -low;
    for (const PlotSeries& series : panel.series) {
        for (const auto& point : series.points) {
            low = std::min(low, point.second);
            high = std::max(high, point.second);
        }
    }
    if (!(low <= high))
        return {0.0, 1.0};
    const double margin = high > low ? (high - low) * 0.05 : std::max(1.0, std::fabs(high) * 0.05);
    return {low - margin, high + margin};
}

void writePanel(std::ostream& out, const PlotPanel& panel, double top, double seconds)
{
    const double plotWidth = kWidth - kLeft - kRight;
    const double plotHeight = kPanelHeight - kTop - kBottom;
    const double y0 = top + kTop;
    const auto range = valueRange(panel);
    const double span = seconds > 0.0 ? seconds : 1.0;
    auto x = [&](double t) { return kLeft + plotWidth * std::clamp(t / span, 0.0, 1.0); };
    auto y = [&](double v) {
        return y0 + plotHeight * (1.0 - (v - range.first) / (range.second - range.first));
    };

    out << "<text x=\"" << kLeft << "\" y=\"" << top + 20 << "\" font-size=\"14\">" << escaped(panel.title)
        << "</text>\n";
    out << "<rect x=\"" << kLeft << "\" y=\"" << y0 << "\" width=\"" << plotWidth << "\" height=\""
        << plotHeight << "\" fill=\"none\" stroke=\"#888\"/>\n";
    for (int i = 0; i <= kTicks; ++i) {
        const double v = range.first + (range.second - range.first) * i / kTicks;
        const double t = span * i / kTicks;
        out << "<text x=\"" << kLeft - 6 << "\" y=\"" << y(v) + 4
            << "\" font-size=\"11\" text-anchor=\"end\">" << number(v) << "</text>\n";
        out << "<text x=\"" << x(t) << "\" y=\"" << y0 + plotHeight + 16
            << "\" font-size=\"11\" text-anchor=\"middle\">" << number(t) << " s</text>\n";
    }
    if (range.first < 0.0 && range.second > 0.0) {
        out << "<line x1=\"" << kLeft << "\" y1=\"" << y(0.0) << "\" x2=\"" << kLeft + plotWidth << "\" y2=\""
            << y(0.0) << "\" stroke=\"#ccc\"/>\n";
    }
    bool any = false;
    for (std::size_t s = 0; s < panel.series.size(); ++s) {
        const PlotSeries& series = panel.series[s];
        const char* colour = kColours[s % (sizeof kColours / sizeof kColours[0])];
        out << "<text x=\"" << kLeft + plotWidth + 12 << "\" y=\"" << y0 + 14 + 16.0 * s
            << "\" font-size=\"12\" fill=\"" << colour << "\">" << escaped(series.name) << "</text>\n";
        if (series.points.empty())
            continue;
        any = true;
        out << "<polyline fill=\"none\" stroke-width=\"1.5\" stroke=\"" << colour << "\" points=\"";
        for (const auto& point : series.points)
            out << x(point.first) << ',' << y(point.second) << ' ';
        out << "\"/>\n";
    }
    if (!any) {
        out << "<text x=\"" << kLeft + plotWidth / 2 << "\" y=\"" << y0 + plotHeight / 2
            << "\" font-size=\"13\" text-anchor=\"middle\" fill=\"#888\">no data</text>\n";
    }
}

} // namespace

void writeSvgPlot(std::ostream& out, const std::vector<PlotPanel>& panels, double seconds)
{
    const double height = kPanelHeight * static_cast<double>(std::max<std::size_t>(panels.size(), 1));
    out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << kWidth << "\" height=\"" << height
        << "\" viewBox=\"0 0 " << kWidth << ' ' << height << "\" font-family=\"sans-serif\">\n"
        << "<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n";
    for (std::size_t i = 0; i < panels.size(); ++i)
        writePanel(out, panels[i], kPanelHeight * static_cast<double>(i), seconds);
    out << "</svg>\n";
}

} // namespace orvex::cli
