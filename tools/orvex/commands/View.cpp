// `orvex view`: its options, then the viewer.
#include "commands/View.h"

#include <boost/program_options.hpp>

#include <string>

namespace po = boost::program_options;

namespace orvex::cli::commands::view {

const char* const kSummary = "  view           serve a live view of every camera to a browser (--listen)\n";

namespace {

const std::string& jpegQualityHelp()
{
    static const std::string help = "live images as JPEG of quality Q, " + std::to_string(kJpegQualityMin) +
                                    " to " + std::to_string(kJpegQualityMax) + " (default " +
                                    std::to_string(kJpegQualityDefault) + ")";
    return help;
}

} // namespace

void addOptions(po::options_description& options)
{
    po::options_description viewing("Options of view");
    viewing.add_options()                                                                         //
        ("listen", po::value<std::string>()->default_value("127.0.0.1:8080"),                     //
         "serve the page on ADDR:PORT (port 0: any free port)")                                   //
        ("sync", po::value<std::string>(), "run the synchronisation controller with this master") //
        ("jpeg-quality", po::value<std::string>()->value_name("Q"), jpegQualityHelp().c_str());
    options.add(viewing);
}

Options parse(const CommandLineValues& line)
{
    const po::variables_map& values = line.values;
    if (line.camera || !line.settings.empty()) {
        throw UsageError("view takes no camera and no settings: the page sets them");
    }
    Options options{line.common, {}};
    options.view.listen = values["listen"].as<std::string>();
    options.view.backend = line.common.backend;
    if (values.count("sync")) {
        options.view.syncMaster = values["sync"].as<std::string>();
        if (options.view.syncMaster.empty()) {
            throw UsageError("--sync needs a master camera: a port index or a GUID");
        }
    }
    // --field is among the options of sync, which adds it.
    options.view.syncField = values["field"].as<bool>();
    if (options.view.syncField && options.view.syncMaster.empty()) {
        throw UsageError("--field needs --sync");
    }
    if (values.count("jpeg-quality")) {
        const std::string& text = values["jpeg-quality"].as<std::string>();
        const bool digits =
            !text.empty() && text.size() <= 3 && text.find_first_not_of("0123456789") == std::string::npos;
        if (!digits || std::stoi(text) < kJpegQualityMin || std::stoi(text) > kJpegQualityMax)
            throw UsageError("--jpeg-quality '" + text + "': expected a whole number from 1 to 100");
        options.view.jpegQuality = std::stoi(text);
    }
    return options;
}

int run(const Options& options)
{
    const bool syncAsked = !options.view.syncMaster.empty();
    if (const int refused = checkStack(options.common, StackUse{true, syncAsked}))
        return refused;
    return serveView(options.view);
}

} // namespace orvex::cli::commands::view
