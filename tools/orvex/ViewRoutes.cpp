#include "ViewRoutes.h"

#include "ViewAssets.h"
#include "ViewCameras.h"
#include "ViewJson.h"
#include "ViewSync.h"

#include <httplib.h>

#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

namespace orvex::cli {
namespace {

// How long a request waits for the main thread before it is answered 503.
constexpr std::chrono::milliseconds kHostWait(3000);

// A camera's id as the path gives it: a port index of at most five decimal
// digits, after "bcam-" for the BCAM cameras beside the FlyCapture ones.
constexpr const char* kCameraPattern = R"(/api/cameras/((?:bcam-)?\d{1,5}))";

// httplib's own pool queues every accepted connection. This one keeps at
// most `waiting` of them; beyond that the accepting thread serves the
// connection itself, so that accepting stops until a worker is free and the
// kernel's backlog, then the clients, wait instead of the tool's memory.
class BoundedQueue : public httplib::TaskQueue {
public:
    BoundedQueue(unsigned workers, unsigned waiting) : _waiting(waiting)
    {
        for (unsigned i = 0; i < workers; ++i)
            _threads.emplace_back([this] { work(); });
    }
    ~BoundedQueue() override = default;
    BoundedQueue(const BoundedQueue&) = delete;
    BoundedQueue& operator=(const BoundedQueue&) = delete;

    void enqueue(std::function<void()> fn) override
    {
        {
            std::unique_lock<std::mutex> lock(_mutex);
            if (_jobs.size() < _waiting) {
                _jobs.push_back(std::move(fn));
                _ready.notify_one();
                return;
            }
        }
        fn();
    }

    void shutdown() override
    {
        {
            const std::lock_guard<std::mutex> lock(_mutex);
            _stopping = true;
        }
        _ready.notify_all();
        for (auto& thread : _threads)
            thread.join();
    }

private:
    void work()
    {
        for (;;) {
            std::function<void()> job;
            {
                std::unique_lock<std::mutex> lock(_mutex);
                _ready.wait(lock, [this] { return _stopping || !_jobs.empty(); });
                // Connections already accepted are still served and closed.
                if (_jobs.empty())
                    return;
                job = std::move(_jobs.front());
                _jobs.pop_front();
            }
            job();
        }
    }

    const std::size_t _waiting;
    std::mutex _mutex;
    std::condition_variable _ready;
    std::deque<std::function<void()>> _jobs;
    std::vector<std::thread> _threads;
    bool _stopping = false;
};

void answerJson(httplib::Response& res, int status, const std::string& json)
{
    res.status = status;
    res.set_content(json, "application/json");
}

void answerError(httplib::Response& res, int status, const std::string& message)
{
    answerJson(res, status, "{\"error\":" + jsonString(message) + "}");
}

void answerBusy(httplib::Response& res)
{
    answerError(res, 503, "the viewer is busy or stopping; try again");
}

int statusOf(ActionResult::Outcome outcome)
{
    switch (outcome) {
    case ActionResult::Outcome::done:
        return 200;
    case ActionResult::Outcome::badRequest:
        return 400;
    case ActionResult::Outcome::noCamera:
        return 404;
    default:
        return 422;
    }
}

std::string cameraIdOf(const httplib::Request& req)
{
    return req.matches[1].str();
}

void answerResult(httplib::Response& res, const std::optional<ActionResult>& result)
{
    if (!result) {
        answerBusy(res);
        return;
    }
    if (result->outcome == ActionResult::Outcome::done)
        answerJson(res, 200, "{\"ok\":true}");
    else
        answerError(res, statusOf(result->outcome), result->message);
}

// Runs `action` on the camera the path names, on the main thread.
template <class Action>
void actOnCamera(HostQueue& queue, ViewCameras& cameras, const httplib::Request& req, httplib::Response& res,
                 Action action)
{
    const std::string id = cameraIdOf(req);
    answerResult(res, queue.call(
                          [&cameras, id, action]() -> ActionResult {
                              CameraView* view = cameras.find(id);
                              if (view == nullptr)
                                  return {ActionResult::Outcome::noCamera, "no camera " + id};
                              return action(*view);
                          },
                          kHostWait));
}

void addPageRoutes(httplib::Server& server)
{
    server.Get(R"(/|/[A-Za-z0-9_.-]{1,64})", [](const httplib::Request& req, httplib::Response& res) {
        const ViewAsset* asset = findViewAsset(req.path == "/" ? "/index.html" : req.path);
        if (asset == nullptr) {
            answerError(res, 404, "no such page");
            return;
        }
        res.set_content(reinterpret_cast<const char*>(asset->data), asset->size, asset->contentType);
    });
}

void addStateRoute(httplib::Server& server, HostQueue& queue, ViewCameras& cameras, ViewSync& sync)
{
    server.Get("/api/state", [&queue, &cameras, &sync](const httplib::Request&, httplib::Response& res) {
        const auto json = queue.call(
            [&cameras, &sync] {
                return "{\"cameras\":" + cameras.stateJson() +
                       ",\"syncAvailable\":" + (sync.available() ? "true" : "false") +
                       ",\"sync\":" + sync.stateJson() + "}";
            },
            kHostWait);
        if (json)
            answerJson(res, 200, *json);
        else
            answerBusy(res);
    });
}

// The last image encoded per camera and resolution: a browser faster than
// the camera gets it again without a copy or an encoding.
class EncodedFrames {
public:
    std::optional<uint32_t> index(const std::string& id, bool full)
    {
        const std::lock_guard<std::mutex> lock(_mutex);
        const auto found = _frames.find({id, full});
        return found != _frames.end() ? std::optional<uint32_t>(found->second.first) : std::nullopt;
    }
    std::shared_ptr<const std::string> png(const std::string& id, bool full, uint32_t index)
    {
        const std::lock_guard<std::mutex> lock(_mutex);
        const auto found = _frames.find({id, full});
        return found != _frames.end() && found->second.first == index ? found->second.second : nullptr;
    }
    void keep(const std::string& id, bool full, uint32_t index, std::shared_ptr<const std::string> png)
    {
        const std::lock_guard<std::mutex> lock(_mutex);
        _frames[{id, full}] = {index, std::move(png)};
    }

private:
    std::mutex _mutex;
    std::map<std::pair<std::string, bool>, std::pair<uint32_t, std::shared_ptr<const std::string>>> _frames;
};

void addFrameRoute(httplib::Server& server, HostQueue& queue, ViewCameras& cameras)
{
    auto encoded = std::make_shared<EncodedFrames>();
    server.Get(std::string(kCameraPattern) + "/frame.png",
               [&queue, &cameras, encoded](const httplib::Request& req, httplib::Response& res) {
                   const std::string full = req.get_param_value("full");
                   if (!full.empty() && full != "0" && full != "1") {
                       answerError(res, 400, "full is 0 or 1");
                       return;
                   }
                   const std::string id = cameraIdOf(req);
                   const bool wantFull = full == "1";
                   const std::optional<uint32_t> known = encoded->index(id, wantFull);
                   const auto frame = queue.call(
                       [&cameras, id, wantFull, known]() -> std::optional<ViewFrame> {
                           CameraView* view = cameras.find(id);
                           return view != nullptr ? view->newestFrame(wantFull, known) : std::nullopt;
                       },
                       kHostWait);
                   if (!frame) {
                       answerBusy(res);
                       return;
                   }
                   if (!*frame) {
                       answerError(res, 404, "no image from camera " + id + " yet");
                       return;
                   }
                   const ViewFrame& newest = **frame;
                   std::shared_ptr<const std::string> png = encoded->png(id, wantFull, newest.index);
                   if (png == nullptr && newest.pixels.empty()) {
                       answerBusy(res); // another request replaced the kept image meanwhile
                       return;
                   }
                   if (!newest.pixels.empty()) {
                       // Encoded here, off the main thread.
                       png = std::make_shared<const std::string>(encodePng(newest));
                       encoded->keep(id, wantFull, newest.index, png);
                   }
                   res.set_content(*png, "image/png");
                   res.set_header("Cache-Control", "no-store");
                   // Which image this is: a client can tell a new one from the kept one.
                   res.set_header("X-Orvex-Index", std::to_string(newest.index));
               });
}

void addActionRoutes(httplib::Server& server, HostQueue& queue, ViewCameras& cameras)
{
    const std::string base = kCameraPattern;
    server.Post(base + "/settings", [&queue, &cameras](const httplib::Request& req, httplib::Response& res) {
        if (req.get_param_value_count("name") != 1 || req.get_param_value_count("value") != 1) {
            answerError(res, 400, "a setting needs exactly one name and one value");
            return;
        }
        actOnCamera(queue, cameras, req, res,
                    [name = req.get_param_value("name"), value = req.get_param_value("value")](
                        CameraView& view) { return view.applySetting(name, value); });
    });
    server.Post(base + "/start", [&queue, &cameras](const httplib::Request& req, httplib::Response& res) {
        actOnCamera(queue, cameras, req, res, [](CameraView& view) { return view.start(); });
    });
    server.Post(base + "/stop", [&queue, &cameras](const httplib::Request& req, httplib::Response& res) {
        actOnCamera(queue, cameras, req, res, [](CameraView& view) { return view.stop(); });
    });
    server.Post(base + "/trigger", [&queue, &cameras](const httplib::Request& req, httplib::Response& res) {
        actOnCamera(queue, cameras, req, res, [](CameraView& view) { return view.softwareTrigger(); });
    });
}

void addSyncRoutes(httplib::Server& server, HostQueue& queue, ViewSync& sync)
{
    server.Post("/api/sync/start", [&queue, &sync](const httplib::Request& req, httplib::Response& res) {
        if (req.get_param_value_count("master") != 1) {
            answerError(res, 400, "synchronisation needs exactly one master");
            return;
        }
        answerResult(
            res, queue.call([&sync, master = req.get_param_value("master")] { return sync.start(master); },
                            kHostWait));
    });
    server.Post("/api/sync/stop", [&queue, &sync](const httplib::Request&, httplib::Response& res) {
        answerResult(res, queue.call([&sync] { return sync.stop(); }, kHostWait));
    });
}

} // namespace

std::unique_ptr<httplib::Server> makeViewServer(HostQueue& queue, ViewCameras& cameras, ViewSync& sync,
                                                const ViewLimits& limits)
{
    auto server = std::make_unique<httplib::Server>();
    server->new_task_queue = [limits] { return new BoundedQueue(limits.workers, limits.waiting); };
    server->set_payload_max_length(limits.bodyBytes);
    server->set_read_timeout(limits.timeoutSeconds, 0);
    server->set_write_timeout(limits.timeoutSeconds, 0);
    server->set_keep_alive_timeout(limits.timeoutSeconds);
    server->set_keep_alive_max_count(100);
    server->set_exception_handler([](const httplib::Request&, httplib::Response& res,
                                     const std::exception_ptr&) { answerError(res, 500, "internal error"); });
    server->set_error_handler([](const httplib::Request&, httplib::Response& res) {
        if (res.body.empty())
            answerError(res, res.status, "request refused (status " + std::to_string(res.status) + ")");
    });
    addPageRoutes(*server);
    addStateRoute(*server, queue, cameras, sync);
    addFrameRoute(*server, queue, cameras);
    addActionRoutes(*server, queue, cameras);
    addSyncRoutes(*server, queue, sync);
    return server;
}

} // namespace orvex::cli
