// The orvex tool's command line: every command's options gathered into one
// parser, so that --help shows them all and any option may stand anywhere,
// then the command named by the first word reads its own.
#include "CommandLine.h"

#include "commands/Grab.h"
#include "commands/Info.h"
#include "commands/List.h"
#include "commands/Sync.h"
#include "commands/View.h"

#include <boost/program_options.hpp>

#include <cstdlib>
#include <iostream>
#include <sstream>

namespace po = boost::program_options;

namespace orvex::cli {
namespace {

// One command: its word, its lines in --help, its own group of options (if
// any), and how its options are read and bound to its run().
struct Command {
    const char* name;
    const char* const* summary;
    void (*addOptions)(po::options_description&);
    std::function<int()> (*prepare)(const CommandLineValues&);
};

template <class Options> using Parse = Options (*)(const CommandLineValues&);
template <class Options> using Run = int (*)(const Options&);

template <class Options, Parse<Options> parse, Run<Options> run>
std::function<int()> prepare(const CommandLineValues& line)
{
    return [options = parse(line)] { return run(options); };
}

// In the order --help lists them.
const Command kCommands[] = {
    {"list", &commands::list::kSummary, nullptr,
     &prepare<commands::list::Options, &commands::list::parse, &commands::list::run>},
    {"info", &commands::info::kSummary, nullptr,
     &prepare<commands::info::Options, &commands::info::parse, &commands::info::run>},
    {"grab", &commands::grab::kSummary, &commands::grab::addOptions,
     &prepare<commands::grab::Options, &commands::grab::parse, &commands::grab::run>},
    {"sync", &commands::sync::kSummary, &commands::sync::addOptions,
     &prepare<commands::sync::Options, &commands::sync::parse, &commands::sync::run>},
    {"view", &commands::view::kSummary, &commands::view::addOptions,
     &prepare<commands::view::Options, &commands::view::parse, &commands::view::run>},
};

po::options_description visibleOptions()
{
    po::options_description options("Options");
    options.add_options()                                                                          //
        ("help,h", "print this help and exit")                                                     //
        ("backend,b", po::value<std::string>()->default_value("flycap"),                           //
         "camera stack: flycap (FlyCapture SDK), bcam (BCAM driver), or all (list and view only)") //
        ("sdk", po::value<std::string>(), "flycap through dc1394 (libdc1394: FireWire on Linux)")  //
        ("log-level", po::value<std::string>()->default_value("OFF"),                              //
         "show the library's log lines from this level on (TRACE, DEBUG, INFO, WARN, ERROR)")      //
        ("seconds", po::value<double>(), "grab: stop after S seconds; sync: run S seconds (default 10)");
    po::options_description settings(
        "Camera settings (info and grab apply them after init, in this order: roi, "
        "packet, trigger, frame rate, shutter, gain, brightness, auto exposure, "
        "strobe)");
    addSettingsOptions(settings);
    options.add(settings);
    for (const Command& command : kCommands) {
        if (command.addOptions != nullptr)
            command.addOptions(options);
    }
    return options;
}

const Command* findCommand(const std::string& name)
{
    for (const Command& command : kCommands) {
        if (name == command.name)
            return &command;
    }
    return nullptr;
}

int printUsage()
{
    std::cout << usageText();
    return 0;
}

// The library reads the variable when it loads the SDK, at the first camera
// call. putenv keeps the buffer, hence a static one; it is the one call that
// both C libraries (glibc, msvcrt) have.
void selectFlyCapSdk(const std::string& name)
{
    if (name != "dc1394")
        throw UsageError("--sdk is dc1394");
    static char selection[] = "ORVEX_FLYCAP_SDK=dc1394";
    putenv(selection);
}

} // namespace

std::string usageText()
{
    std::ostringstream text;
    text << "Usage: orvex COMMAND [CAMERA] [options]\n"
            "\n"
            "Commands:\n";
    for (const Command& command : kCommands)
        text << *command.summary;
    text << "\n" << visibleOptions();
    return text.str();
}

ParsedCommandLine parseCommandLine(int argc, const char* const argv[])
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

    CommandLineValues line{values, {}, std::nullopt, {}};
    line.common.backend = values["backend"].as<std::string>();
    if (values.count("sdk"))
        selectFlyCapSdk(values["sdk"].as<std::string>());
    line.common.logLevel = values["log-level"].as<std::string>();
    line.settings = readSettings(values);
    if (values.count("camera"))
        line.camera = values["camera"].as<std::string>();
    if (values.count("help"))
        return ParsedCommandLine{line.common, &printUsage};
    if (!values.count("command"))
        throw UsageError("no command given");
    const std::string name = values["command"].as<std::string>();
    const Command* command = findCommand(name);
    if (command == nullptr)
        throw UsageError("unknown command '" + name + "'");
    return ParsedCommandLine{line.common, command->prepare(line)};
}

} // namespace orvex::cli
