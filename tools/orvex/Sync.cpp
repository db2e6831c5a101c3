#include "Sync.h"

#include "SyncPlot.h"

#include <orvex/MultiSync.h>
#include <orvex/MultiSyncField.h>
#include <orvex/iidc/Registers.h>
#include <orvex/iidc/SyncRegisters.h>
#if defined(ORVEX_CLI_OVER_SIMULATOR)
#include <orvex/sim/CycleClock.h>
#include <orvex/sim/World.h>
#endif

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <memory>
#include <set>
#include <system_error>
#include <vector>

namespace orvex::cli {
namespace {

namespace iidc = orvex::iidc;
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
        int64_t disagreement = 0;
        if (measureDisagreement(_master, slave.guid, disagreement)) {
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
    // Written beside the file and renamed once complete: a failure (a full
    // disk shows only when the stream is closed) leaves no partial plot.
    const std::string partial = file + ".part";
    errno = 0;
    std::ofstream out(partial, std::ios::binary);
    if (out) {
        writeSvgPlot(out, {disagreement, drift}, seconds);
        out.close();
    }
    std::error_code renamed;
    if (out)
        std::filesystem::rename(partial, file, renamed);
    if (!out || renamed) {
        const std::string reason = renamed      ? renamed.message()
                                   : errno != 0 ? std::strerror(errno)
                                                : std::string("write error");
        std::remove(partial.c_str());
        err << "orvex: cannot write the plot to " << file << ": " << reason << "\n";
        return false;
    }
    return true;
}

} // namespace

SyncCameras syncCamerasFor(IEEE1394VideoServer& server, IEEE1394Camera& master)
{
    const CamGUID masterGuid = master.getUniqueId();
    const std::string masterBus = master.getOwningBusId();
    std::set<CamGUID> connected;
    server.getCamsList(connected);
    SyncCameras chosen;
    for (const CamGUID& guid : connected) {
        if (guid == masterGuid)
            continue;
        chosen.others.push_back(guid);
        IEEE1394Camera& camera = server.getCamera(guid);
        if (camera.getOwningBusId() != masterBus)
            chosen.slaves.push_back(&camera);
    }
    return chosen;
}

SlaveCorrection readSlaveCorrection(IEEE1394Camera& slave)
{
    unsigned long quadlet0 = 0, quadlet1 = 0;
    slave.readRegister(iidc::kSync, quadlet0);
    slave.readRegister(iidc::kSync + 4, quadlet1);
    SlaveCorrection correction;
    correction.corrected = quadlet0 != 0 || quadlet1 != 0;
    correction.driftTicksPerSecond = iidc::syncDrift(static_cast<uint32_t>(quadlet1));
    correction.offsetTicks = iidc::cycleTimeToTicks(static_cast<uint32_t>(quadlet0));
    return correction;
}

bool measureDisagreement(const CamGUID& master, const CamGUID& slave, int64_t& ticks)
{
#if defined(ORVEX_CLI_OVER_SIMULATOR)
    const auto& world = orvex::sim::World::instance();
    const auto masterCamera = world.camera(master.low());
    const auto slaveCamera = world.camera(slave.low());
    if (!masterCamera || !slaveCamera)
        return false;
    const int64_t instant = orvex::sim::hostNowNs();
    ticks = iidc::signedTicksBetween(masterCamera->stampCycleTimeAt(instant),
                                     slaveCamera->stampCycleTimeAt(instant));
    return true;
#else
    (void)master;
    (void)slave;
    (void)ticks;
    return false;
#endif
}

int runSync(Session& session, const SyncOptions& options, std::ostream& out, std::ostream& err)
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

} // namespace orvex::cli
