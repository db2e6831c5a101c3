#include "ViewRoutes.h"

#include "ViewAssets.h"
#include "ViewCameras.h"
#include "ViewJson.h"

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

// A port index as the path gives it: at most five decimal digits.
constexpr const char* kPortPattern = R"(/api/cameras/(\d{1,5}))";

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

unsigned long portOf(const httplib::Request& req)
{
    return std::stoul(req.matches[1].str()); // at most five digits: fits
}

// Runs `action` on the camera the path names, on the main thread.
template <class Action>
void actOnCamera(HostQueue& queue, ViewCameras& cameras, const httplib::Request& req, httplib::Response& res,
                 Action action)
{
    const unsigned long port = portOf(req);
    const auto result = queue.call(
        [&cameras, port, action]() -> ActionResult {
            CameraView* view = cameras.find(port);
            if (view == nullptr)
                return {ActionResult::Outcome::noCamera, "no camera at port " + std::to_string(port)};
            return action(*view);
        },
        kHostWait);
    if (!result) {
        answerBusy(res);
        return;
    }
    if (result->outcome == ActionResult::Outcome::done)
        answerJson(res, 200, "{\"ok\":true}");
    else
        answerError(res, statusOf(result->outcome), result->message);
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

void addStateRoute(httplib::Server& server, HostQueue& queue, ViewCameras& cameras,
                   const std::function<std::string()>& syncJson)
{
    server.Get("/api/state", [&queue, &cameras, syncJson](const httplib::Request&, httplib::Response& res) {
        const auto json = queue.call(
            [&cameras, syncJson] {
                return "{\"cameras\":" + cameras.stateJson() + ",\"sync\":" + syncJson() + "}";
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
    std::optional<uint32_t> index(unsigned long port, bool full)
    {
        const std::lock_guard<std::mutex> lock(_mutex);
        const auto found = _frames.find({port, full});
        return found != _frames.end() ? std::optional<uint32_t>(found->second.first) : std::nullopt;
    }
    std::shared_ptr<const std::string> png(unsigned long port, bool full, uint32_t index)
    {
        const std::lock_guard<std::mutex> lock(_mutex);
        const auto found = _frames.find({port, full});
        return found != _frames.end() && found->second.first == index ? found->second.second : nullptr;
    }
    void keep(unsigned long port, bool full, uint32_t index, std::shared_ptr<const std::string> png)
    {
        const std::lock_guard<std::mutex> lock(_mutex);
        _frames[{port, full}] = {index, std::move(png)};
    }

private:
    std::mutex _mutex;
    std::map<std::pair<unsigned long, bool>, std::pair<uint32_t, std::shared_ptr<const std::string>>> _frames;
};

void addFrameRoute(httplib::Server& server, HostQueue& queue, ViewCameras& cameras)
{
    auto encoded = std::make_shared<EncodedFrames>();
    server.Get(std::string(kPortPattern) + "/frame.png",
               [&queue, &cameras, encoded](const httplib::Request& req, httplib::Response& res) {
                   const std::string full = req.get_param_value("full");
                   if (!full.empty() && full != "0" && full != "1") {
                       answerError(res, 400, "full is 0 or 1");
                       return;
                   }
                   const unsigned long port = portOf(req);
                   const bool wantFull = full == "1";
                   const std::optional<uint32_t> known = encoded->index(port, wantFull);
                   const auto frame = queue.call(
                       [&cameras, port, wantFull, known]() -> std::optional<ViewFrame> {
                           CameraView* view = cameras.find(port);
                           return view != nullptr ? view->newestFrame(wantFull, known) : std::nullopt;
                       },
                       kHostWait);
                   if (!frame) {
                       answerBusy(res);
                       return;
                   }
                   if (!*frame) {
                       answerError(res, 404, "no image from camera " + std::to_string(port) + " yet");
                       return;
                   }
                   const ViewFrame& newest = **frame;
                   std::shared_ptr<const std::string> png = encoded->png(port, wantFull, newest.index);
                   if (png == nullptr && newest.pixels.empty()) {
                       answerBusy(res); // another request replaced the kept image meanwhile
                       return;
                   }
                   if (!newest.pixels.empty()) {
                       // Encoded here, off the main thread.
                       png = std::make_shared<const std::string>(encodePng(newest));
                       encoded->keep(port, wantFull, newest.index, png);
                   }
                   res.set_content(*png, "image/png");
                   res.set_header("Cache-Control", "no-store");
               });
}

void addActionRoutes(httplib::Server& server, HostQueue& queue, ViewCameras& cameras)
{
    const std::string base = kPortPattern;
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

} // namespace

std::unique_ptr<httplib::Server> makeViewServer(HostQueue& queue, ViewCameras& cameras,
                                                const std::function<std::string()>& syncJson,
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
    addStateRoute(*server, queue, cameras, syncJson);
    addFrameRoute(*server, queue, cameras);
    addActionRoutes(*server, queue, cameras);
    return server;
}

} // namespace orvex::cli
