// The viewer's routes: the page's files, the state, the frames, the
// cameras' actions and the synchronisation controller.
#include "view/Routes.h"

#include "view/Assets.h"
#include "view/Cameras.h"
#include "view/Json.h"
#include "view/LiveStream.h"
#include "view/Previews.h"
#include "view/Sync.h"

#include <algorithm>
#include <cctype>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <tuple>
#include <vector>

namespace orvex::cli {
namespace {

// How long a request waits for the main thread before it is answered 503:
// long enough for a camera's start on a loaded machine. A waiting request
// holds a handler, not the event loop; Ctrl-C releases it at once.
constexpr std::chrono::milliseconds kHostWait(8000);
// How long a request for what the page shows (state, frames) waits for the
// main thread before it is answered with what was last seen: a
// synchronisation update whose register transfers are retried holds the
// main thread for seconds, and the page must not freeze with it.
constexpr std::chrono::milliseconds kShowWait(250);

// The last state the main thread composed, for requests that cannot wait.
class LastState {
public:
    void keep(const std::string& json)
    {
        const std::lock_guard<std::mutex> lock(_mutex);
        _json = json;
    }
    std::optional<std::string> get() const
    {
        const std::lock_guard<std::mutex> lock(_mutex);
        return _json;
    }

private:
    mutable std::mutex _mutex;
    std::optional<std::string> _json;
};

// What a path must match for a route: the part it names (a camera's id),
// or nothing when it is not that route's.
using PathMatch = std::function<std::optional<std::string>(const std::string&)>;

PathMatch exactly(const std::string& wanted)
{
    return [wanted](const std::string& path) {
        return path == wanted ? std::optional<std::string>(path) : std::nullopt;
    };
}

// "/" or "/NAME", NAME of at most 64 letters, digits, '_', '.' and '-': a
// file of the page, looked up among its own and nowhere else.
std::optional<std::string> pageName(const std::string& path)
{
    if (path == "/")
        return path;
    const bool plain =
        path.size() >= 2 && path.size() <= 65 && path[0] == '/' &&
        std::all_of(path.begin() + 1, path.end(), [](char c) {
            return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_' || c == '.' || c == '-';
        });
    return plain ? std::optional<std::string>(path) : std::nullopt;
}

// "/api/cameras/ID/ACTION": ID a port index of at most five decimal digits,
// after "bcam-" for the BCAM cameras beside the FlyCapture ones. The ID, or
// nothing when the path is not that.
std::optional<std::string> cameraIdIn(const std::string& path, const std::string& action)
{
    const std::string prefix = "/api/cameras/";
    const std::string suffix = "/" + action;
    if (path.size() <= prefix.size() + suffix.size() || path.compare(0, prefix.size(), prefix) != 0 ||
        path.compare(path.size() - suffix.size(), suffix.size(), suffix) != 0)
        return std::nullopt;
    const std::string id = path.substr(prefix.size(), path.size() - prefix.size() - suffix.size());
    const std::string digits = id.compare(0, 5, "bcam-") == 0 ? id.substr(5) : id;
    if (digits.empty() || digits.size() > 5 || digits.find_first_not_of("0123456789") != std::string::npos)
        return std::nullopt;
    return id;
}

PathMatch cameraRoute(const std::string& action)
{
    return [action](const std::string& path) { return cameraIdIn(path, action); };
}

void answerJson(HttpResponse& res, int status, const std::string& json)
{
    res.status = status;
    res.contentType = "application/json";
    res.body = json;
}

void answerError(HttpResponse& res, int status, const std::string& message)
{
    answerJson(res, status, "{\"error\":" + jsonString(message) + "}");
}

void answerBusy(HttpResponse& res)
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

// A route's handler: the request and its path's match.
using Route = std::function<void(const HttpRequest&, const std::string& named, HttpResponse&)>;

// Routes by method and whole-path pattern; what matches none is a 404.
class Router {
public:
    void get(PathMatch match, Route route)
    {
        _entries.push_back({"GET", std::move(match), std::move(route)});
    }
    void post(PathMatch match, Route route)
    {
        _entries.push_back({"POST", std::move(match), std::move(route)});
    }

    void handle(const HttpRequest& req, HttpResponse& res) const
    {
        for (const Entry& entry : _entries) {
            if (entry.method != req.method)
                continue;
            if (const std::optional<std::string> named = entry.match(req.path)) {
                entry.route(req, *named, res);
                return;
            }
        }
        answerError(res, 404, "no such page");
    }

private:
    struct Entry {
        std::string method;
        PathMatch match;
        Route route;
    };
    std::vector<Entry> _entries;
};

void answerResult(HttpResponse& res, const std::optional<ActionResult>& result)
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
void actOnCamera(HostQueue& queue, ViewCameras& cameras, const std::string& id, HttpResponse& res,
                 Action action)
{
    answerResult(res, queue.call(
                          [&cameras, id, action]() -> ActionResult {
                              CameraView* view = cameras.find(id);
                              if (view == nullptr)
                                  return {ActionResult::Outcome::noCamera, "no camera " + id};
                              return action(*view);
                          },
                          kHostWait));
}

void addPageRoutes(Router& router)
{
    router.get(pageName, [](const HttpRequest& req, const std::string&, HttpResponse& res) {
        const ViewAsset* asset = findViewAsset(req.path == "/" ? "/index.html" : req.path);
        if (asset == nullptr) {
            answerError(res, 404, "no such page");
            return;
        }
        res.contentType = asset->contentType;
        res.body.assign(reinterpret_cast<const char*>(asset->data), asset->size);
    });
}

// Asks the main thread for what `job` returns: briefly first, then, unless
// a window message handler holds the main thread (where it may stay for
// seconds), as long as any request waits. Nothing when it could not answer.
template <class Job>
auto callForShow(HostQueue& queue, const Job& job) -> decltype(queue.call(job, kShowWait))
{
    auto answer = queue.call(job, kShowWait);
    if (!answer && !queue.dispatching())
        answer = queue.call(job, kHostWait);
    return answer;
}

std::string stateJson(ViewCameras& cameras, ViewSync& sync)
{
    return "{\"cameras\":" + cameras.stateJson() +
           ",\"syncAvailable\":" + (sync.available() ? "true" : "false") + ",\"sync\":" + sync.stateJson() +
           "}";
}

// Main thread (the handler is made there): the first state is kept at once,
// so that even the first request never waits for a busy main thread.
void addStateRoute(Router& router, HostQueue& queue, ViewCameras& cameras, ViewSync& sync)
{
    auto last = std::make_shared<LastState>();
    last->keep(stateJson(cameras, sync));
    router.get(exactly("/api/state"), [&queue, &cameras, &sync, last](const HttpRequest&, const std::string&,
                                                                      HttpResponse& res) {
        const auto json = callForShow(queue, [&cameras, &sync] { return stateJson(cameras, sync); });
        if (json) {
            last->keep(*json);
            answerJson(res, 200, *json);
        } else if (const auto kept = last->get()) {
            res.headers.emplace_back("X-Orvex-Stale", "1");
            answerJson(res, 200, *kept);
        } else {
            answerBusy(res);
        }
    });
}

// How a route sends a frame: a name to keep its encodings apart, its
// content type and its encoder.
struct FrameFormat {
    const char* name;
    const char* contentType;
    std::function<std::string(const ViewFrame&)> encode;
    bool live = false; // the page's live preview, which the main thread encodes as images come
};

FrameFormat pngFormat()
{
    return {"png", "image/png", &encodePng};
}

// The live preview's format: JPEG where the build has it, at the user's
// quality; PNG otherwise.
FrameFormat liveFormat(int jpegQuality)
{
    FrameFormat format = pngFormat();
    if (canEncodeJpeg())
        format = {"jpeg", "image/jpeg",
                  [jpegQuality](const ViewFrame& frame) { return encodeJpeg(frame, jpegQuality); }};
    format.live = true;
    return format;
}

// How the main thread encodes a watched camera's live preview as it comes.
PreviewSlot::LiveEncoder liveEncoder(int jpegQuality)
{
    if (canEncodeJpeg())
        return [jpegQuality](const GreyImage& image) { return encodeJpeg(image, jpegQuality); };
    return [](const GreyImage& image) { return encodeGreyPng(image); };
}

// The newest encoding of each camera's image, per size and format: a page
// that asks again before the camera has a new image gets it again without a
// copy or an encoding, and the pages open on one camera share one encoding.
class EncodedFrames {
public:
    using Key = std::tuple<std::string, bool, std::string>; // camera id, full, format
    using Kept = std::pair<uint32_t, std::shared_ptr<const std::string>>;
    std::optional<uint32_t> index(const Key& key)
    {
        const std::lock_guard<std::mutex> lock(_mutex);
        const auto found = _frames.find(key);
        return found != _frames.end() && found->second.kept.second != nullptr
                   ? std::optional<uint32_t>(found->second.kept.first)
                   : std::nullopt;
    }
    // The last image encoded, whatever its index: what a request that
    // cannot wait for the main thread gets.
    std::optional<Kept> newest(const Key& key)
    {
        const std::lock_guard<std::mutex> lock(_mutex);
        const auto found = _frames.find(key);
        return found != _frames.end() && found->second.kept.second != nullptr
                   ? std::optional(found->second.kept)
                   : std::nullopt;
    }
    // An encoding made elsewhere (by the main thread) of image `index`,
    // unless a newer one is kept: answers from several threads race.
    void keep(const Key& key, uint32_t index, std::shared_ptr<const std::string> made)
    {
        const std::lock_guard<std::mutex> lock(_mutex);
        Kept& kept = _frames[key].kept;
        const uint32_t ahead = index - kept.first; // modulo 2^32: the counter wraps
        if (kept.second == nullptr || (ahead != 0 && ahead < 0x80000000u))
            kept = {index, std::move(made)};
    }
    std::shared_ptr<const std::string> bytes(const Key& key, uint32_t index)
    {
        const std::lock_guard<std::mutex> lock(_mutex);
        const auto found = _frames.find(key);
        return found != _frames.end() && found->second.kept.first == index ? found->second.kept.second
                                                                           : nullptr;
    }
    // The encoding of `frame`, made by `encode` unless another request made
    // it: requests for one image that come together wait for one encoding.
    template <class Encode>
    std::shared_ptr<const std::string> encodeOnce(const Key& key, const ViewFrame& frame,
                                                  const Encode& encode)
    {
        std::shared_ptr<std::mutex> encoding;
        {
            const std::lock_guard<std::mutex> lock(_mutex);
            Entry& entry = _frames[key];
            if (entry.kept.second != nullptr && entry.kept.first == frame.index)
                return entry.kept.second;
            if (entry.encoding == nullptr)
                entry.encoding = std::make_shared<std::mutex>();
            encoding = entry.encoding;
        }
        const std::lock_guard<std::mutex> one(*encoding);
        if (std::shared_ptr<const std::string> made = bytes(key, frame.index))
            return made;
        auto made = std::make_shared<const std::string>(encode(frame));
        const std::lock_guard<std::mutex> lock(_mutex);
        _frames[key].kept = {frame.index, made};
        return made;
    }

private:
    struct Entry {
        Kept kept{0, nullptr};
        std::shared_ptr<std::mutex> encoding;
    };
    std::mutex _mutex;
    std::map<Key, Entry> _frames;
};

void answerFrame(HttpResponse& res, const FrameFormat& format, std::shared_ptr<const std::string> bytes,
                 uint32_t index)
{
    res.contentType = format.contentType;
    res.sharedBody = std::move(bytes);
    res.headers.emplace_back("Cache-Control", "no-store");
    // Which image this is: a client can tell a new one from the kept one.
    res.headers.emplace_back("X-Orvex-Index", std::to_string(index));
}

// The main thread could not answer: the image last encoded, marked as such,
// or 503 when there is none yet.
void answerStale(HttpResponse& res, const FrameFormat& format, const std::optional<EncodedFrames::Kept>& kept)
{
    if (!kept) {
        answerBusy(res);
        return;
    }
    answerFrame(res, format, kept->second, kept->first);
    res.headers.emplace_back("X-Orvex-Stale", "1");
}

// The preview the main thread copied for a watched camera, sent in the
// live encoding it made as the image came, or encoded here: no round trip
// to the main thread. False when there is none (the camera was
// not watched until now, or stopped), or when the main thread has not come
// to its work lately: the slot then stops at an image while the camera may
// have stopped or left, so the main thread is asked, and tells, or the
// answer is marked stale.
bool answerFromPreview(HostQueue& queue, ViewCameras& cameras, const std::string& id,
                       const FrameFormat& format, EncodedFrames& encoded, HttpResponse& res)
{
    PreviewSlot* slot = cameras.previewOf(id);
    if (slot == nullptr)
        return false;
    slot->watch();
    if (!queue.tookWorkWithin(kShowWait))
        return false;
    const Preview preview = slot->latest();
    if (preview.frame == nullptr)
        return false;
    const uint32_t index = preview.frame->index;
    const EncodedFrames::Key key{id, false, format.name};
    std::shared_ptr<const std::string> bytes;
    if (format.live && preview.live != nullptr) {
        bytes = preview.live;
        encoded.keep(key, index, bytes); // what a stale answer falls back on
    } else if (preview.frame->pixels.empty()) {
        return false; // encoded where it lay, not copied: the main thread copies it
    } else {
        bytes = encoded.encodeOnce(key, *preview.frame, format.encode);
    }
    if (format.live)
        slot->liveSent();
    answerFrame(res, format, std::move(bytes), index);
    return true;
}

// GET /api/cameras/ID/ACTION[?full=1]: the camera's newest image, scaled to
// the preview or at full resolution, in the format `formatFor(full)` gives.
void addFrameRoute(Router& router, HostQueue& queue, ViewCameras& cameras, const std::string& action,
                   const std::shared_ptr<EncodedFrames>& encoded,
                   const std::function<FrameFormat(bool full)>& formatFor)
{
    router.get(cameraRoute(action), [&queue, &cameras, encoded, formatFor](
                                        const HttpRequest& req, const std::string& id, HttpResponse& res) {
        const std::string full = req.param("full");
        if (!full.empty() && full != "0" && full != "1") {
            answerError(res, 400, "full is 0 or 1");
            return;
        }
        const bool wantFull = full == "1";
        const FrameFormat format = formatFor(wantFull);
        if (!wantFull && answerFromPreview(queue, cameras, id, format, *encoded, res))
            return;
        const EncodedFrames::Key key{id, wantFull, format.name};
        const std::optional<uint32_t> known = encoded->index(key);
        const auto frame = callForShow(queue, [&cameras, id, wantFull, known]() -> std::optional<ViewFrame> {
            CameraView* view = cameras.find(id);
            return view != nullptr ? view->newestFrame(wantFull, known) : std::nullopt;
        });
        if (!frame) {
            answerStale(res, format, encoded->newest(key));
            return;
        }
        if (!*frame) {
            answerError(res, 404, "no image from camera " + id + " yet");
            return;
        }
        const ViewFrame& newest = **frame;
        std::shared_ptr<const std::string> bytes = encoded->bytes(key, newest.index);
        if (bytes == nullptr && newest.pixels.empty()) {
            answerBusy(res); // another request replaced the kept image meanwhile
            return;
        }
        if (!newest.pixels.empty()) // encoded here, off the main thread
            bytes = encoded->encodeOnce(key, newest, format.encode);
        answerFrame(res, format, std::move(bytes), newest.index);
    });
}

// GET /api/cameras/ID/stream: the live preview as one answer, a part per
// new image, until the camera stops, restarts or leaves. Opened only on a
// camera that acquires (404 as for a frame otherwise), so that a page
// learns at once that it has to wait.
void addStreamRoute(Router& router, HostQueue& queue, ViewCameras& cameras,
                    const std::shared_ptr<EncodedFrames>& encoded, const FrameFormat& format)
{
    router.get(cameraRoute("stream"), [&queue, &cameras, encoded,
                                       format](const HttpRequest&, const std::string& id, HttpResponse& res) {
        const auto clears = queue.call(
            [&cameras, id]() -> std::optional<uint64_t> {
                CameraView* view = cameras.find(id);
                if (view == nullptr || !view->acquiring())
                    return std::nullopt;
                // Copied and encoded from the next image on, before the
                // stream listens.
                view->preview().watch();
                return view->preview().clears();
            },
            kHostWait);
        if (!clears) {
            answerBusy(res);
            return;
        }
        PreviewSlot* slot = cameras.previewOf(id);
        if (!*clears || slot == nullptr) {
            answerError(res, 404, "no image from camera " + id + " yet");
            return;
        }
        const EncodedFrames::Key key{id, false, format.name};
        res.contentType = liveStreamContentType();
        res.headers.emplace_back("Cache-Control", "no-store");
        res.parts = std::make_shared<LiveStream>(
            *slot, **clears, format.contentType,
            [encoded, key, encode = format.encode](const ViewFrame& frame) {
                return encoded->encodeOnce(key, frame, encode);
            },
            // What a stale answer of the frame route falls back on.
            [encoded, key](uint32_t index, const std::shared_ptr<const std::string>& bytes) {
                encoded->keep(key, index, bytes);
            });
    });
}

// frame.png: always PNG. frame: what the page shows live, JPEG where the
// build has it; its full-resolution image stays PNG, lossless and 16-bit.
// Returns what answers the live preview on the event loop: JPEG of a
// watched camera, as the main thread encoded it, or encoded there when the
// main thread left it (at most 640 x 480, well under a millisecond);
// anything else, PNG included, goes to the pool.
QuickHandler addFrameRoutes(Router& router, HostQueue& queue, ViewCameras& cameras, const ViewAccess& access,
                            int jpegQuality)
{
    auto encoded = std::make_shared<EncodedFrames>();
    cameras.setLiveEncoder(liveEncoder(jpegQuality));
    addFrameRoute(router, queue, cameras, "frame.png", encoded, [](bool) { return pngFormat(); });
    addFrameRoute(router, queue, cameras, "frame", encoded,
                  [jpegQuality](bool full) { return full ? pngFormat() : liveFormat(jpegQuality); });
    addStreamRoute(router, queue, cameras, encoded, liveFormat(jpegQuality));
    if (!canEncodeJpeg())
        return nullptr;
    return [&queue, &cameras, access, encoded, format = liveFormat(jpegQuality)](const HttpRequest& req,
                                                                                 HttpResponse& res) {
        if (req.method != "GET" || !access.hostAllowed(req.host))
            return false;
        const std::string full = req.param("full");
        if (!full.empty() && full != "0")
            return false;
        const std::optional<std::string> id = cameraIdIn(req.path, "frame");
        return id && answerFromPreview(queue, cameras, *id, format, *encoded, res);
    };
}

void addActionRoutes(Router& router, HostQueue& queue, ViewCameras& cameras)
{
    router.post(cameraRoute("settings"),
                [&queue, &cameras](const HttpRequest& req, const std::string& id, HttpResponse& res) {
                    if (req.paramCount("name") != 1 || req.paramCount("value") != 1) {
                        answerError(res, 400, "a setting needs exactly one name and one value");
                        return;
                    }
                    actOnCamera(queue, cameras, id, res,
                                [name = req.param("name"), value = req.param("value")](CameraView& view) {
                                    return view.applySetting(name, value);
                                });
                });
    router.post(cameraRoute("start"),
                [&queue, &cameras](const HttpRequest&, const std::string& id, HttpResponse& res) {
                    actOnCamera(queue, cameras, id, res, [](CameraView& view) { return view.start(); });
                });
    router.post(cameraRoute("stop"),
                [&queue, &cameras](const HttpRequest&, const std::string& id, HttpResponse& res) {
                    actOnCamera(queue, cameras, id, res, [](CameraView& view) { return view.stop(); });
                });
    router.post(cameraRoute("trigger"), [&queue, &cameras](const HttpRequest&, const std::string& id,
                                                           HttpResponse& res) {
        actOnCamera(queue, cameras, id, res, [](CameraView& view) { return view.softwareTrigger(); });
    });
}

void addSyncRoutes(Router& router, HostQueue& queue, ViewSync& sync)
{
    router.post(exactly("/api/sync/start"), [&queue, &sync](const HttpRequest& req, const std::string&,
                                                            HttpResponse& res) {
        if (req.paramCount("master") != 1) {
            answerError(res, 400, "synchronisation needs exactly one master");
            return;
        }
        answerResult(
            res, queue.call([&sync, master = req.param("master")] { return sync.start(master); }, kHostWait));
    });
    router.post(exactly("/api/sync/stop"),
                [&queue, &sync](const HttpRequest&, const std::string&, HttpResponse& res) {
                    answerResult(res, queue.call([&sync] { return sync.stop(); }, kHostWait));
                });
}

} // namespace

ViewHandlers makeViewHandlers(HostQueue& queue, ViewCameras& cameras, ViewSync& sync,
                              const ViewAccess& access, int jpegQuality)
{
    auto router = std::make_shared<Router>();
    addPageRoutes(*router);
    addStateRoute(*router, queue, cameras, sync);
    QuickHandler quick = addFrameRoutes(*router, queue, cameras, access, jpegQuality);
    addActionRoutes(*router, queue, cameras);
    addSyncRoutes(*router, queue, sync);
    HttpHandler handler = [router, access](const HttpRequest& req, HttpResponse& res) {
        if (!access.hostAllowed(req.host)) {
            answerError(res, 403, "host '" + req.host + "' is not this viewer");
            return;
        }
        if (req.method != "GET" && req.hasOrigin && !access.originAllowed(req.origin)) {
            answerError(res, 403, "requests from '" + req.origin + "' may not change the cameras");
            return;
        }
        router->handle(req, res);
    };
    return {std::move(handler), std::move(quick)};
}

} // namespace orvex::cli
