// The buses as the SDK over libdc1394 sees them: one libdc1394 session,
// cameras grouped into buses, and arrivals and removals from bus resets.
#include "Buses.h"

#include <algorithm>
#include <cstdlib>
#include <set>

namespace orvex::flycap::dc1394sdk {

namespace {

// How often the watching thread lists the buses.
constexpr auto kWatchPeriod = std::chrono::milliseconds(100);
// Cameras whose cycle timers, seen from the host clock, differ by less than
// this share a bus (a reading pair comes from one ioctl: microseconds apart).
constexpr int64_t kSameBusNs = 20000;
// The cycle timer wraps every 128 seconds.
constexpr int64_t kCycleWrapNs = 128LL * 1000000000LL;
// The BCAM driver's cameras: the FlyCapture SDK leaves them alone.
constexpr const char* kBcamVendor = "Basler";

// Cycle timer minus host time, modulo the cycle timer's wrap.
int64_t clockPhaseNs(uint32_t cycleTime, uint64_t hostUs)
{
    const int64_t seconds = (cycleTime >> 25) & 0x7F;
    const int64_t count = (cycleTime >> 12) & 0x1FFF;
    const int64_t offset = cycleTime & 0xFFF;
    const int64_t cycleNs = seconds * 1000000000LL + count * 125000LL + offset * 125000LL / 3072;
    const int64_t hostNs = static_cast<int64_t>(hostUs % static_cast<uint64_t>(kCycleWrapNs / 1000)) * 1000;
    return ((cycleNs - hostNs) % kCycleWrapNs + kCycleWrapNs) % kCycleWrapNs;
}

bool sameBus(const BusClock& a, const BusClock& b)
{
    const int64_t d = std::abs(a.phaseNs - b.phaseNs);
    return a.generation == b.generation && std::min(d, kCycleWrapNs - d) < kSameBusNs;
}

} // namespace

Buses& Buses::instance()
{
    static Buses buses;
    return buses;
}

Buses::Buses() = default;

dc1394_t* Buses::sessionLocked()
{
    if (!_session) {
        _session = dc1394_new();
        _sessionSawCameras = false;
    }
    return _session;
}

bool Buses::available()
{
    std::lock_guard<std::mutex> lock(_listing);
    return sessionLocked() != nullptr;
}

Buses::~Buses()
{
    stopWatching();
    if (_session)
        dc1394_free(_session);
}

CameraHandle Buses::open(const CameraEntry& entry)
{
    std::lock_guard<std::mutex> lock(_listing);
    if (!sessionLocked())
        return nullptr;
    return CameraHandle(dc1394_camera_new_unit(_session, entry.guid, entry.unit));
}

std::vector<CameraEntry> Buses::listCameras()
{
    std::vector<CameraEntry> found;
    std::vector<BusClock> clocks;
    std::lock_guard<std::mutex> lock(_listing);
    dc1394camera_list_t* list = nullptr;
    if (!sessionLocked() || dc1394_camera_enumerate(_session, &list) != DC1394_SUCCESS || !list)
        return found;
    if (list->num == 0 && !_sessionSawCameras) {
        // A session that started on a machine without cameras never sees
        // any arrive (libdc1394 settles on its back end at the start): such
        // a session, which cannot have made a camera handle, is started
        // again. One that saw cameras sees them come back.
        dc1394_camera_free_list(list);
        list = nullptr;
        dc1394_free(_session);
        _session = nullptr;
        if (!sessionLocked() || dc1394_camera_enumerate(_session, &list) != DC1394_SUCCESS || !list)
            return found;
    }
    _sessionSawCameras = _sessionSawCameras || list->num > 0;
    for (uint32_t i = 0; i < list->num; ++i) {
        CameraHandle camera(dc1394_camera_new_unit(_session, list->ids[i].guid, list->ids[i].unit));
        if (!camera)
            continue; // left the bus while listed
        CameraEntry entry;
        entry.guid = camera->guid;
        entry.unit = static_cast<uint16_t>(camera->unit);
        entry.serialNumber = static_cast<uint32_t>(camera->guid);
        entry.vendor = camera->vendor ? camera->vendor : "";
        entry.model = camera->model ? camera->model : "";
        if (entry.vendor == kBcamVendor)
            continue;
        uint32_t node = 0, generation = 0;
        dc1394_camera_get_node(camera.get(), &node, &generation);
        entry.node = static_cast<int>(node & 0x3F);
        entry.maxSpeed = camera->bmode_capable ? 800 : 400;
        uint32_t cycleTime = 0;
        uint64_t hostUs = 0;
        if (dc1394_read_cycle_timer(camera.get(), &cycleTime, &hostUs) != DC1394_SUCCESS)
            continue; // gone already
        found.push_back(entry);
        clocks.push_back({clockPhaseNs(cycleTime, hostUs), generation});
    }
    dc1394_camera_free_list(list);
    assignBuses(found, clocks);
    std::sort(found.begin(), found.end(), [](const CameraEntry& a, const CameraEntry& b) {
        return a.bus != b.bus ? a.bus < b.bus : a.node != b.node ? a.node < b.node : a.guid < b.guid;
    });
    return found;
}

void Buses::assignBuses(std::vector<CameraEntry>& cameras, const std::vector<BusClock>& clocks)
{
    // Groups of cameras sharing a clock and a bus generation, never two of
    // one node number (a node number names one node of its bus); GUID order.
    std::vector<size_t> order(cameras.size());
    for (size_t i = 0; i < order.size(); ++i)
        order[i] = i;
    std::sort(order.begin(), order.end(),
              [&](size_t a, size_t b) { return cameras[a].guid < cameras[b].guid; });
    std::vector<std::vector<size_t>> groups;
    for (size_t i : order) {
        auto group = std::find_if(groups.begin(), groups.end(), [&](const std::vector<size_t>& g) {
            return sameBus(clocks[g[0]], clocks[i]) && std::none_of(g.begin(), g.end(), [&](size_t j) {
                       return cameras[j].node == cameras[i].node;
                   });
        });
        if (group == groups.end())
            groups.push_back({i});
        else
            group->push_back(i);
    }
    auto lowestGuid = [&](const std::vector<size_t>& g) {
        uint64_t lowest = UINT64_MAX;
        for (size_t i : g)
            lowest = std::min(lowest, cameras[i].guid);
        return lowest;
    };
    std::sort(groups.begin(), groups.end(),
              [&](const auto& a, const auto& b) { return lowestGuid(a) < lowestGuid(b); });

    std::lock_guard<std::mutex> lock(_m);
    // Buses that cameras listed now already have.
    std::set<int> known;
    for (const CameraEntry& c : cameras) {
        const auto k = _busOfGuid.find(c.guid);
        if (k != _busOfGuid.end())
            known.insert(k->second);
    }
    std::map<uint64_t, int> next;
    std::set<int> taken;
    for (const auto& group : groups) {
        int bus = -1;
        for (size_t i : group) {
            const auto k = _busOfGuid.find(cameras[i].guid);
            if (k != _busOfGuid.end() && !taken.count(k->second)) {
                bus = k->second;
                break;
            }
        }
        if (bus < 0) {
            bus = 0;
            while (taken.count(bus) || known.count(bus))
                ++bus;
        }
        taken.insert(bus);
        for (size_t i : group) {
            cameras[i].bus = bus;
            next[cameras[i].guid] = bus;
        }
    }
    _busOfGuid = std::move(next);
}

std::vector<Buses::Message> Buses::diffLocked(std::vector<CameraEntry>& fresh)
{
    std::vector<Message> messages;
    auto find = [](const std::vector<CameraEntry>& list, uint64_t guid) {
        return std::find_if(list.begin(), list.end(),
                            [guid](const CameraEntry& e) { return e.guid == guid; });
    };
    for (const CameraEntry& old : _cameras) {
        if (find(fresh, old.guid) == fresh.end()) {
            messages.push_back({FLYCAPTURE_MESSAGE_BUS_RESET, static_cast<unsigned long>(old.bus)});
            messages.push_back({FLYCAPTURE_MESSAGE_DEVICE_REMOVAL, old.serialNumber});
        }
    }
    for (CameraEntry& entry : fresh) {
        const auto old = find(_cameras, entry.guid);
        if (old != _cameras.end()) {
            entry.arrival = old->arrival;
            continue;
        }
        entry.arrival = _nextArrival++;
        if (_listed) {
            messages.push_back({FLYCAPTURE_MESSAGE_BUS_RESET, static_cast<unsigned long>(entry.bus)});
            messages.push_back({FLYCAPTURE_MESSAGE_DEVICE_ARRIVAL, entry.serialNumber});
        }
    }
    _cameras = fresh;
    _listed = true;
    return messages;
}

std::vector<CameraEntry> Buses::refresh()
{
    std::vector<CameraEntry> fresh = listCameras();
    std::lock_guard<std::mutex> lock(_m);
    std::vector<Message> messages = diffLocked(fresh);
    if (!_callbacks.empty() && !messages.empty()) {
        // Told on the watching thread, whoever noticed the change.
        _pending.insert(_pending.end(), messages.begin(), messages.end());
        _cv.notify_all();
    }
    return fresh;
}

std::vector<CameraEntry> Buses::cameras() const
{
    std::lock_guard<std::mutex> lock(_m);
    return _cameras;
}

bool Buses::present(uint64_t guid, uint64_t arrival) const
{
    std::lock_guard<std::mutex> lock(_m);
    return std::any_of(_cameras.begin(), _cameras.end(),
                       [&](const CameraEntry& e) { return e.guid == guid && e.arrival == arrival; });
}

void Buses::deliverLocked(std::unique_lock<std::mutex>& lock)
{
    _delivering = true;
    while (!_pending.empty() && !_stopping) {
        const Message message = _pending.front();
        _pending.pop_front();
        const std::vector<Callback> targets = _callbacks;
        for (const Callback& target : targets) {
            // Removed meanwhile: its owner may be gone.
            if (std::find(_callbacks.begin(), _callbacks.end(), target) == _callbacks.end())
                continue;
            lock.unlock();
            target.function(target.param, message.message, message.param);
            lock.lock();
        }
    }
    _delivering = false;
    _cv.notify_all();
}

void Buses::watch()
{
    std::unique_lock<std::mutex> lock(_m);
    _watcherId = std::this_thread::get_id();
    while (!_stopping) {
        _cv.wait_for(lock, kWatchPeriod, [this] { return _stopping || !_pending.empty(); });
        if (_stopping)
            break;
        if (_pending.empty() && !_callbacks.empty()) {
            lock.unlock();
            refresh();
            lock.lock();
        }
        deliverLocked(lock);
    }
}

void Buses::addCallback(FlyCaptureContext context, FlyCaptureCallback callback, void* param)
{
    std::lock_guard<std::mutex> lock(_m);
    _callbacks.push_back({context, callback, param});
    if (!_watcher.joinable() && !_stopping) {
        _watcher = std::thread(&Buses::watch, this);
        // At exit the watcher stops before anything made after this point is
        // torn down (the devices it lists among them), not with this object.
        std::atexit([] { instance().stopWatching(); });
    }
}

void Buses::stopWatching()
{
    std::thread watcher;
    {
        std::lock_guard<std::mutex> lock(_m);
        _stopping = true;
        _callbacks.clear();
        _pending.clear();
        watcher = std::move(_watcher);
        _cv.notify_all();
    }
    if (watcher.joinable() && watcher.get_id() != std::this_thread::get_id())
        watcher.join();
    else if (watcher.joinable())
        watcher.detach(); // exit called from a callback
}

void Buses::waitForDeliveryLocked(std::unique_lock<std::mutex>& lock)
{
    if (std::this_thread::get_id() == _watcherId)
        return; // a callback removing itself (or another) from inside a delivery
    _cv.wait(lock, [this] { return !_delivering; });
}

bool Buses::removeCallback(FlyCaptureContext context, FlyCaptureCallback callback, void* param)
{
    std::unique_lock<std::mutex> lock(_m);
    const auto it = std::find(_callbacks.begin(), _callbacks.end(), Callback{context, callback, param});
    if (it == _callbacks.end())
        return false;
    _callbacks.erase(it);
    waitForDeliveryLocked(lock);
    return true;
}

void Buses::removeCallbacks(FlyCaptureContext context)
{
    std::unique_lock<std::mutex> lock(_m);
    _callbacks.erase(std::remove_if(_callbacks.begin(), _callbacks.end(),
                                    [context](const Callback& c) { return c.context == context; }),
                     _callbacks.end());
    waitForDeliveryLocked(lock);
}

} // namespace orvex::flycap::dc1394sdk
