// The viewer's synchronisation controller: start, stop, and the readings
// and plot series the page shows.
#include "view/Sync.h"

#include "SimulatedWorld.h"
#include "view/Json.h"

#include <orvex/MultiSync.h>
#include <orvex/MultiSyncField.h>

#include <algorithm>
#include <cctype>
#include <sstream>
#include <stdexcept>

namespace orvex::cli {
namespace {

// Points kept per series: ten minutes of slow ticks, a few kilobytes of JSON
// per slave in each state answer.
constexpr std::size_t kMaxPoints = 600;
// A name longer than this is no port index and no GUID.
constexpr std::size_t kLongestMasterName = 18;

// Hands the controller's events to the viewer's sync state. Owned by the
// controller, which the state outlives.
class Events : public MultiSyncEvtCB {
public:
    explicit Events(ViewSync& sync) : _sync(sync) {}
    void onUpdateSyncRegistersSuccess() override { _sync.onUpdate(); }
    void onUpdateSyncRegistersFailure(const std::string& message) override { _sync.onFailure(message); }
    void onSynchronized() override { _sync.onSynchronized(); }
    void onSynchronizationLost() override { _sync.onLost(); }

private:
    ViewSync& _sync;
};

std::string pointsJson(const std::deque<std::pair<double, double>>& points)
{
    std::string out = "[";
    for (std::size_t i = 0; i < points.size(); ++i) {
        out += (i > 0 ? ",[" : "[") + jsonNumber(points[i].first) + "," + jsonNumber(points[i].second) + "]";
    }
    return out + "]";
}

// The camera `name` (a decimal port index or a GUID) among those the server
// lists now: the session's list of the start keeps cameras the server has
// deleted since.
IEEE1394Camera* presentCamera(IEEE1394VideoServer& server, const std::string& name)
{
    const bool decimal = name.find_first_not_of("0123456789") == std::string::npos && name.size() <= 5;
    if (decimal) {
        const unsigned long port = std::stoul(name);
        for (int position = 0; position < server.getNbCameras(); ++position) {
            IEEE1394Camera& camera = server.getCamera(position);
            if (camera.getPortIdx() == port)
                return &camera;
        }
        return nullptr;
    }
    CamGUID guid;
    try {
        guid.from_string(name);
    } catch (const std::invalid_argument&) {
        return nullptr;
    }
    return server.testCameraConnected(guid) ? &server.getCamera(guid) : nullptr;
}

} // namespace

ViewSync::ViewSync(Session* flycap) : _flycap(flycap) {}

ViewSync::~ViewSync()
{
    try {
        _sync.reset(); // a running controller stops as it goes
    } catch (const std::exception&) {
    }
}

ActionResult ViewSync::start(const std::string& master)
{
    if (_flycap == nullptr)
        return {ActionResult::Outcome::refused,
                "synchronisation needs the FlyCapture stack (--backend flycap or all)"};
    if (_phase != Phase::stopped)
        return {ActionResult::Outcome::refused, "synchronisation already runs; stop it first"};
    if (master.empty() || master.size() > kLongestMasterName ||
        !std::all_of(master.begin(), master.end(), [](char c) {
            return std::isxdigit(static_cast<unsigned char>(c)) != 0 || c == 'x' || c == 'X';
        }))
        return {ActionResult::Outcome::badRequest, "master: expected a port index or a GUID (0x...)"};
    try {
        IEEE1394Camera* camera = presentCamera(_flycap->server(), master);
        if (camera == nullptr)
            return {ActionResult::Outcome::noCamera, "no camera " + master + " on the FlyCapture buses"};
        const SyncCameras chosen = syncCamerasFor(_flycap->server(), *camera);
        if (chosen.others.empty())
            return {ActionResult::Outcome::refused, "the master is the only camera: nothing to synchronise"};
        // A new controller per run: the histories of another master mean nothing.
        _sync.reset();
        auto sync = std::make_unique<MultiSync>();
        sync->setEvtCB(new Events(*this));
        orvex::setMultiSyncFieldMode(*sync, _field);
        sync->setCameras(camera->getUniqueId(), chosen.others);
        _master = camera->getUniqueId();
        _masterPort = camera->getPortIdx();
        _masterBusCameras = chosen.others.size() - chosen.slaves.size();
        _slaves.clear();
        for (IEEE1394Camera* slave : chosen.slaves)
            _slaves.push_back(
                Slave{slave->getUniqueId(), slave->getPortIdx(), std::nullopt, std::nullopt, {}, {}});
        _synchronisedAfter.reset();
        _updates = _failures = 0;
        _lastFailure.clear();
        _startedAt = std::chrono::steady_clock::now();
        _everStarted = true;
        _phase = Phase::synchronising;
        _sync = std::move(sync);
        _sync->start(); // its first update reports at once
    } catch (const std::exception& error) {
        _sync.reset();
        _phase = Phase::stopped;
        _stoppedAt = std::chrono::steady_clock::now();
        return {ActionResult::Outcome::refused, error.what()};
    }
    return {};
}

ActionResult ViewSync::stop()
{
    if (_phase == Phase::stopped || !_sync)
        return {ActionResult::Outcome::refused, "synchronisation is not running"};
    try {
        _sync->stop();
    } catch (const std::exception& error) {
        return {ActionResult::Outcome::refused, error.what()};
    }
    _phase = Phase::stopped;
    _stoppedAt = std::chrono::steady_clock::now();
    return {};
}

double ViewSync::elapsed() const
{
    const auto until = _phase == Phase::stopped ? _stoppedAt : std::chrono::steady_clock::now();
    return std::chrono::duration<double>(until - _startedAt).count();
}

void ViewSync::keep(Points& points, double t, double value)
{
    points.emplace_back(t, value);
    while (points.size() > kMaxPoints)
        points.pop_front();
}

void ViewSync::onUpdate()
{
    ++_updates;
    const double t = elapsed();
    for (Slave& slave : _slaves) {
        try {
            // Looked up each time: the server deletes a camera that leaves.
            IEEE1394VideoServer& server = _flycap->server();
            slave.correction.reset();
            if (server.testCameraConnected(slave.guid))
                slave.correction = readSlaveCorrection(server.getCamera(slave.guid));
        } catch (const std::exception&) {
            slave.correction.reset(); // the controller reports its own failures
        }
        const bool corrected = slave.correction && slave.correction->corrected;
        if (corrected)
            keep(slave.drifts, t, slave.correction->driftTicksPerSecond);
        if (const std::optional<int64_t> ticks = simulated::disagreementTicks(_master, slave.guid)) {
            slave.disagreement = *ticks;
            // Before its first correction a slave's stamps are its own clock's:
            // plotted, they would hide the convergence.
            if (corrected)
                keep(slave.disagreements, t, static_cast<double>(*ticks));
        } else {
            slave.disagreement.reset();
        }
    }
}

void ViewSync::onFailure(const std::string& message)
{
    ++_failures;
    _lastFailure = message;
}

void ViewSync::onSynchronized()
{
    _phase = Phase::synchronised;
    if (!_synchronisedAfter)
        _synchronisedAfter = elapsed();
}

void ViewSync::onLost()
{
    _phase = Phase::lost;
}

const char* ViewSync::phaseName() const
{
    switch (_phase) {
    case Phase::synchronising:
        return "synchronising";
    case Phase::synchronised:
        return "synchronised";
    case Phase::lost:
        return "lost";
    default:
        return "stopped";
    }
}

std::string ViewSync::stateJson() const
{
    if (!_everStarted)
        return "null";
    std::ostringstream out;
    out << "{\"state\":\"" << phaseName() << "\""
        << ",\"master\":" << jsonString("0x" + _master.to_string()) << ",\"masterPort\":" << _masterPort
        << ",\"masterBusCameras\":" << _masterBusCameras << ",\"seconds\":" << jsonNumber(elapsed())
        << ",\"synchronisedAfter\":" << (_synchronisedAfter ? jsonNumber(*_synchronisedAfter) : "null")
        << ",\"updates\":" << _updates << ",\"failures\":" << _failures
        << ",\"lastFailure\":" << (_failures > 0 ? jsonString(_lastFailure) : "null") << ",\"slaves\":[";
    for (std::size_t i = 0; i < _slaves.size(); ++i) {
        const Slave& slave = _slaves[i];
        const bool corrected = slave.correction && slave.correction->corrected;
        out << (i > 0 ? "," : "") << "{\"guid\":" << jsonString("0x" + slave.guid.to_string())
            << ",\"port\":" << slave.port << ",\"corrected\":" << (corrected ? "true" : "false")
            << ",\"drift\":" << (corrected ? std::to_string(slave.correction->driftTicksPerSecond) : "null")
            << ",\"offset\":" << (corrected ? std::to_string(slave.correction->offsetTicks) : "null")
            << ",\"disagreement\":" << (slave.disagreement ? std::to_string(*slave.disagreement) : "null")
            << ",\"disagreements\":" << pointsJson(slave.disagreements)
            << ",\"drifts\":" << pointsJson(slave.drifts) << "}";
    }
    out << "]}";
    return out.str();
}

} // namespace orvex::cli
