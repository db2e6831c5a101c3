#include "CommandLine.h"

#include <boost/program_options.hpp>

#include <cmath>
#include <sstream>
#include <vector>

namespace po = boost::program_options;

namespace orvex::cli {
namespace {

po::options_description visibleOptions()
{
    po::options_description options("Options");
    options.add_options()                                                                          //
        ("help,h", "print this help and exit")                                                     //
        ("backend,b", po::value<std::string>()->default_value("flycap"),                           //
         "camera stack: flycap (FlyCapture SDK), bcam (BCAM driver), or all (list and view only)") //
        ("log-level", po::value<std::string>()->default_value("OFF"),                              //
         "show the library's log lines from this level on (TRACE, DEBUG, INFO, WARN, ERROR)")      //
        ("seconds", po::value<double>(), "grab: stop after S seconds; sync: run S seconds (default 10)");
    po::options_description settings(
        "Camera settings (info and grab apply them after init, in this order: roi, "
        "packet, trigger, frame rate, shutter, gain, brightness, auto exposure, "
        "strobe)");
    addSettingsOptions(settings);
    options.add(settings);
    po::options_description grabbing("Options of grab");
    grabbing.add_options()                                                                     //
        ("count", po::value<std::string>()->value_name("N"), "stop after N images per camera") //
        ("out", po::value<std::string>(), "write images as PNG files into this folder")        //
        ("every", po::value<std::string>()->value_name("K"), "write every K-th image only")    //
        ("variant", po::value<std::string>()->default_value("normal"),
         "acquisition thread: normal (the SDK's buffers) or wow64 (copies; simulator only)");
    options.add(grabbing);
    po::options_description syncing("Options of sync");
    syncing.add_options()                                                                    //
        ("master", po::value<std::string>(), "the master camera (default: port 0)")          //
        ("plot", po::value<std::string>(), "draw disagreement and drift into this SVG file") //
        ("field", po::bool_switch(),
         "sync, and view with --sync: field mode (follows clock steps and wander; a camera that leaves "
         "is dropped)");
    options.add(syncing);
    po::options_description viewing("Options of view");
    viewing.add_options()                                                     //
        ("listen", po::value<std::string>()->default_value("127.0.0.1:8080"), //
         "serve the page on ADDR:PORT (port 0: any free port)")               //
        ("sync", po::value<std::string>(), "run the synchronisation controller with this master");
    options.add(viewing);
    return options;
}

std::vector<std::string> splitAtCommas(const std::string& text)
{
    std::vector<std::string> parts;
    std::istringstream in(text);
    for (std::string part; std::getline(in, part, ',');) {
        if (part.empty()) {
            throw UsageError("empty camera name in '" + text + "'");
        }
        parts.push_back(part);
    }
    return parts;
}

// A count as the user types it: digits only. The option parser's own
// reading would wrap "-1" to the largest unsigned value.
unsigned long wholeNumber(const po::variables_map& values, const char* option, unsigned long fallback)
{
    if (!values.count(option)) {
        return fallback;
    }
    const std::string& text = values[option].as<std::string>();
    const bool digits =
        !text.empty() && text.size() <= 10 && text.find_first_not_of("0123456789") == std::string::npos;
    if (!digits || std::stoull(text) > 0xFFFFFFFFull) {
        throw UsageError(std::string("--") + option + " '" + text +
                         "': expected a whole number from 0 to 4294967295");
    }
    return static_cast<unsigned long>(std::stoull(text));
}

void readGrabOptions(const po::variables_map& values, Invocation& invocation)
{
    GrabRequest& grab = invocation.grab;
    grab.cameras = splitAtCommas(values["camera"].as<std::string>());
    if (values.count("count")) {
        grab.count = wholeNumber(values, "count", 0);
    }
    if (values.count("seconds")) {
        grab.seconds = values["seconds"].as<double>();
        if (!(*grab.seconds > 0.0 && std::isfinite(*grab.seconds))) {
            throw UsageError("--seconds must be positive");
        }
    }
    if (grab.count && grab.seconds) {
        throw UsageError("--count and --seconds exclude each other");
    }
    if (values.count("out")) {
        grab.outDir = values["out"].as<std::string>();
    }
    grab.every = wholeNumber(values, "every", 1);
    if (grab.every == 0) {
        throw UsageError("--every must be at least 1");
    }
    invocation.variant = values["variant"].as<std::string>();
    if (invocation.variant != "normal" && invocation.variant != "wow64") {
        throw UsageError("--variant is normal or wow64");
    }
}

} // namespace

std::string usageText()
{
    std::ostringstream text;
    text << "Usage: orvex COMMAND [CAMERA] [options]\n"
            "\n"
            "Commands:\n"
            "  list           list the connected cameras: port, GUID, model, vendor, bus,\n"
            "                 firmware version and user memory size\n"
            "  info CAMERA    initialise one camera and print what it reports: geometry,\n"
            "                 packet limits, trigger, shutter and gain ranges, temperature.\n"
            "                 CAMERA is a port index (0, 1, ...) or a GUID (0x...); the\n"
            "                 camera settings below are applied first\n"
            "  grab CAMERAS   acquire until --count images or --seconds (or Ctrl-C) and\n"
            "                 summarise; CAMERAS is CAMERA, CAMERA,CAMERA... or all\n"
            "  sync           keep the cameras on other buses synchronised to a master and\n"
            "                 print each register update (state, drift, offset, disagreement)\n"
            "  view           serve a live view of every camera to a browser (--listen)\n"
            "\n"
         << visibleOptions();
    return text.str();
}

Invocation parseCommandLine(int argc, const char* const argv[])
{
    po::options_description hidden;
    hidden.add_options()                      //
        ("command", po::value<std::string>()) //
        ("camera", po::value<std::string>());
    po::options_description all;
    all.add(visibleOptions()).add(hidden);
    po::positional_options_description positional;
    positional.add("command", 1).add("camera", 1);

    po::variables_map values;
    try {
        po::store(po::command_line_parser(argc, argv).options(all).positional(positional).run(), values);
        po::notify(values);
    } catch (const po::too_many_positional_options_error&) {
        throw UsageError("too many arguments");
    } catch (const po::error& error) {
        throw UsageError(error.what());
    }

    Invocation invocation;
    invocation.backend = values["backend"].as<std::string>();
    invocation.logLevel = values["log-level"].as<std::string>();
    invocation.settings = readSettings(values);
    if (values.count("help")) {
        invocation.command = Command::help;
        return invocation;
    }
    if (!values.count("command")) {
        throw UsageError("no command given");
    }
    const std::string command = values["command"].as<std::string>();
    if (command == "list") {
        invocation.command = Command::list;
        if (values.count("camera")) {
            throw UsageError("list takes no camera");
        }
        if (!invocation.settings.empty()) {
            throw UsageError("list takes no camera settings");
        }
    } else if (command == "info") {
        invocation.command = Command::info;
        if (!values.count("camera")) {
            throw UsageError("info needs a camera: a port index or a GUID");
        }
        invocation.camera = values["camera"].as<std::string>();
    } else if (command == "sync") {
        invocation.command = Command::sync;
        if (values.count("camera")) {
            throw UsageError("sync takes its master with --master");
        }
        invocation.seconds = values.count("seconds") ? values["seconds"].as<double>() : 10.0;
        if (!(invocation.seconds > 0.0 && invocation.seconds <= 86400.0)) {
            throw UsageError("--seconds must be above 0 and at most a day");
        }
        invocation.master = values.count("master") ? values["master"].as<std::string>() : std::string();
        invocation.plotFile = values.count("plot") ? values["plot"].as<std::string>() : std::string();
        invocation.field = values["field"].as<bool>();
    } else if (command == "grab") {
        invocation.command = Command::grab;
        if (!values.count("camera")) {
            throw UsageError("grab needs cameras: port indexes or GUIDs separated by commas, or all");
        }
        readGrabOptions(values, invocation);
        invocation.grab.settings = invocation.settings;
    } else if (command == "view") {
        invocation.command = Command::view;
        if (values.count("camera") || !invocation.settings.empty()) {
            throw UsageError("view takes no camera and no settings: the page sets them");
        }
        invocation.view.listen = values["listen"].as<std::string>();
        invocation.view.backend = invocation.backend;
        if (values.count("sync")) {
            invocation.view.syncMaster = values["sync"].as<std::string>();
            if (invocation.view.syncMaster.empty()) {
                throw UsageError("--sync needs a master camera: a port index or a GUID");
            }
        }
        invocation.view.syncField = values["field"].as<bool>();
        if (invocation.view.syncField && invocation.view.syncMaster.empty()) {
            throw UsageError("--field needs --sync");
        }
    } else {
        throw UsageError("unknown command '" + command + "'");
    }
    return invocation;
}

} // namespace orvex::cli
