// `orvex sync`: runs the synchronisation controller for a while, prints each
// register update and, where asked, draws the run into an SVG file.
#include "commands/Sync.h"

#include "Session.h"
#include "SimulatedWorld.h"
#include "SyncPlot.h"
#include "SyncReadings.h"
#include "WholeFile.h"

#include <orvex/MultiSync.h>
#include <orvex/MultiSyncField.h>

#include <boost/program_options.hpp>

#include <chrono>
#include <iomanip>
#include <iostream>
#include <memory>
#include <sstream>
#include <vector>

namespace po = boost::program_options;

namespace orvex::cli::commands::sync {

const char* const kSummary =
    "  sync           keep the cameras on other buses synchronised to a master and\n"
    "                 print each register update (state, drift, offset, disagreement)\n";

namespace {

using Clock = std::chrono::steady_clock;

// How long the loop waits for a message before it looks at the time again.
constexpr DWORD kPumpWaitMs = 50;

struct Slave {
    CamGUID guid;
    IEEE1394Camera* camera;
    PlotSeries drift;
    PlotSeries disagreement;
};

// Prints one line per update and keeps the series of the plot. Runs on the
// main thread, inside the controller's ticks.
class UpdateReporter : public MultiSyncEvtCB {
public:
    UpdateReporter(const MultiSync& sync, const CamGUID& master, std::vector<Slave>& slaves,
                   std::ostream& out)
        : _sync(sync), _master(master), _slaves(slaves), _out(out), _start(Clock::now())
    {
    }

    void onUpdateSyncRegistersSuccess() override
    {
        const double t = elapsed();
        _out << std::fixed << std::setprecision(3) << std::setw(8) << t << " s  "
             << (_sync.isSynchronized() ? "synchronized" : "started     ");
        for (Slave& slave : _slaves)
            reportSlave(slave, t);
        _out << "\n";
    }
    void onUpdateSyncRegistersFailure(const std::string& message) override
    {
        _out << std::fixed << std::setprecision(3) << std::setw(8) << elapsed() << " s  failure: " << message
             << "\n";
    }
    void onSynchronized() override { _out << "synchronised after " << elapsed() << " s\n"; }
    void onSynchronizationLost() override { _out << "synchronisation lost after " << elapsed() << " s\n"; }

private:
    double elapsed() const { return std::chrono::duration<double>(Clock::now() - _start).count(); }

    // The slave's sync block as written so far: the controller's estimate.
    void reportSlave(Slave& slave, double t)
    {
        SlaveCorrection correction;
        _out << "  0x" << slave.guid.to_string() << ": ";
        try {
            correction = readSlaveCorrection(*slave.camera);
        } catch (const std::exception& error) {
            _out << "? (" << error.what() << ")";
            return;
        }
        const bool corrected = correction.corrected;
        if (!corrected) {
            _out << "not corrected yet";
        } else {
            const int32_t drift = correction.driftTicksPerSecond;
            _out << "drift " << std::showpos << drift << std::noshowpos << " ticks/s, offset "
                 << correction.offsetTicks << " ticks";
            slave.drift.points.emplace_back(t, drift);
        }
        if (const std::optional<int64_t> ticks = simulated::disagreementTicks(_master, slave.guid)) {
            const int64_t disagreement = *ticks;
            _out << ", disagreement " << std::showpos << disagreement << std::noshowpos << " ticks";
            // Before its first correction a slave's stamps are just its own
            // clock: plotted, they would hide the convergence.
            if (corrected)
                slave.disagreement.points.emplace_back(t, static_cast<double>(disagreement));
        }
    }

    const MultiSync& _sync;
    CamGUID _master;
    std::vector<Slave>& _slaves;
    std::ostream& _out;
    Clock::time_point _start;
};

void pumpFor(Session& session, double seconds)
{
    const auto end =
        Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
    while (Clock::now() < end) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, kPumpWaitMs, QS_ALLINPUT);
        session.pumpMessages();
    }
}

bool writePlot(const std::string& file, std::vector<Slave>& slaves, double seconds, std::ostream& err)
{
    PlotPanel disagreement{"disagreement with the master (ticks of 40.7 ns)", {}};
    PlotPanel drift{"estimated drift (ticks per second)", {}};
    for (Slave& slave : slaves) {
        slave.disagreement.name = slave.drift.name = "0x" + slave.guid.to_string();
        disagreement.series.push_back(slave.disagreement);
        drift.series.push_back(slave.drift);
    }
    std::ostringstream svg;
    writeSvgPlot(svg, {disagreement, drift}, seconds);
    if (const auto failure = writeWholeFile(file, svg.str())) {
        err << "orvex: cannot write the plot to " << file << ": " << *failure << "\n";
        return false;
    }
    return true;
}

int synchronise(Session& session, const Options& options, std::ostream& out, std::ostream& err)
{
    IEEE1394VideoServer& server = session.server();
    IEEE1394Camera* master =
        options.master.empty() ? session.findCamera("0") : session.findCamera(options.master);
    if (master == nullptr) {
        err << "orvex: no camera " << (options.master.empty() ? "0" : options.master)
            << " (try 'orvex list')\n";
        return 1;
    }
    const CamGUID masterGuid = master->getUniqueId();
    const std::string masterBus = master->getOwningBusId();
    const SyncCameras chosen = syncCamerasFor(server, *master);
    const std::list<CamGUID>& others = chosen.others;
    std::vector<Slave> slaves;
    for (IEEE1394Camera* camera : chosen.slaves)
        slaves.push_back(Slave{camera->getUniqueId(), camera, {}, {}});
    if (others.empty()) {
        err << "orvex: the master is the only camera: nothing to synchronise\n";
        return 1;
    }
    out << "master 0x" << masterGuid.to_string() << " on bus " << masterBus << "; " << slaves.size()
        << " camera(s) on other buses, " << others.size() - slaves.size() << " on the master's bus\n";

    MultiSync sync;
    sync.setEvtCB(new UpdateReporter(sync, masterGuid, slaves, out));
    orvex::setMultiSyncFieldMode(sync, options.field);
    sync.setCameras(masterGuid, others);
    sync.start();
    pumpFor(session, options.seconds);
    sync.stop();
    out << (sync.lastSyncRegUpdateFailed() ? "the last update failed\n" : "");
    if (!options.plotFile.empty() && !writePlot(options.plotFile, slaves, options.seconds, err))
        return 1;
    return 0;
}

} // namespace

void addOptions(po::options_description& options)
{
    po::options_description syncing("Options of sync");
    syncing.add_options()                                                                    //
        ("master", po::value<std::string>(), "the master camera (default: port 0)")          //
        ("plot", po::value<std::string>(), "draw disagreement and drift into this SVG file") //
        ("field", po::bool_switch(),
         "sync, and view with --sync: field mode (follows clock steps and wander; a camera that leaves "
         "is dropped)");
    options.add(syncing);
}

Options parse(const CommandLineValues& line)
{
    const po::variables_map& values = line.values;
    if (line.camera) {
        throw UsageError("sync takes its master with --master");
    }
    Options options{line.common, {}, 10.0, {}, false};
    options.seconds = values.count("seconds") ? values["seconds"].as<double>() : 10.0;
    if (!(options.seconds > 0.0 && options.seconds <= 86400.0)) {
        throw UsageError("--seconds must be above 0 and at most a day");
    }
    options.master = values.count("master") ? values["master"].as<std::string>() : std::string();
    options.plotFile = values.count("plot") ? values["plot"].as<std::string>() : std::string();
    options.field = values["field"].as<bool>();
    return options;
}

int run(const Options& options)
{
    if (const int refused = checkStack(options.common, StackUse{false, true}))
        return refused;
    Session session(Backend::flycap, false);
    return synchronise(session, options, std::cout, std::cerr);
}

} // namespace orvex::cli::commands::sync
