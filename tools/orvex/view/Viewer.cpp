// The viewer's main loop: the HTTP server, the main thread's wait for work,
// camera removals, and the stop on Ctrl-C.
#include "view/Viewer.h"

#include "view/BcamStack.h"
#include "view/Cameras.h"
#include "view/HostQueue.h"
#include "view/Http.h"
#include "view/Routes.h"
#include "view/Sync.h"

#include <csignal>
#include <iostream>
#include <memory>
#include <vector>

namespace orvex::cli {
namespace {

volatile std::sig_atomic_t g_stopRequested = 0;

void onStopSignal(int)
{
    g_stopRequested = 1;
}

// Ctrl-C and SIGTERM end the viewer's loop, for as long as it runs.
class StopSignals {
public:
    StopSignals()
        : _previousInt(std::signal(SIGINT, &onStopSignal)), _previousTerm(std::signal(SIGTERM, &onStopSignal))
    {
        g_stopRequested = 0;
    }
    ~StopSignals()
    {
        std::signal(SIGINT, _previousInt);
        std::signal(SIGTERM, _previousTerm);
    }
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

private:
    void (*_previousInt)(int);
    void (*_previousTerm)(int);
};

// The user's notice of cameras coming and going, and the viewer's own: a
// removed camera is forgotten by every view the moment its server deleted it,
// while the main thread dispatches the server's message, so that no request
// queued behind that message can reach the freed camera.
class RemovalNotice : public CaptureDeviceChangedCB {
public:
    RemovalNotice(const char* what, ViewCameras& cameras) : _notice(newDeviceNotice(what)), _cameras(cameras)
    {
    }
    void onDeviceArrival(const std::string& deviceName, bool flag) override
    {
        _notice->onDeviceArrival(deviceName, flag);
    }
    void onDeviceRemoval(const std::string& deviceName, bool flag) override
    {
        _cameras.forgetRemoved();
        _notice->onDeviceRemoval(deviceName, flag);
    }

private:
    std::unique_ptr<CaptureDeviceChangedCB> _notice;
    ViewCameras& _cameras;
};

// Installs the viewer's notice on a server for as long as the views live,
// then gives the server back a plain notice: the server outlives them.
class RemovalWatch {
public:
    RemovalWatch(IEEE1394VideoServer& server, const char* what, ViewCameras& cameras)
        : _server(server), _what(what)
    {
        _server.setCaptureDeviceChangedCB(new RemovalNotice(what, cameras), true);
    }
    ~RemovalWatch() { _server.setCaptureDeviceChangedCB(newDeviceNotice(_what), true); }
    RemovalWatch(const RemovalWatch&) = delete;
    RemovalWatch& operator=(const RemovalWatch&) = delete;

private:
    IEEE1394VideoServer& _server;
    const char* _what;
};

// Serves from construction to destruction.
class ServingGuard {
public:
    ServingGuard(HttpServer& server, ViewHandlers handlers) : _server(server)
    {
        _server.start(std::move(handlers.handler), std::move(handlers.quick));
    }
    ~ServingGuard() { _server.stop(); }
    ServingGuard(const ServingGuard&) = delete;
    ServingGuard& operator=(const ServingGuard&) = delete;

private:
    HttpServer& _server;
};

// What a browser on this machine opens: a wildcard address is no address to
// connect to, its loopback is.
std::string browserUrl(const std::string& boundAddress, unsigned short port)
{
    std::string host = boundAddress;
    if (isAnyAddress(host))
        host = host.find(':') != std::string::npos ? "::1" : "127.0.0.1";
    if (host.find(':') != std::string::npos)
        host = "[" + host + "]";
    return "http://" + host + ":" + std::to_string(port) + "/";
}

// New images and HTTP work wake the main thread through events; the time-out
// is for what cannot: Ctrl-C (a signal handler only sets a flag), the frame
// rates, counted per second, and cameras beyond what one wait takes.
constexpr DWORD kIdleWaitMs = 100;

// Waits for the queue's work, a camera's new image, a message or the time-out.
void waitForWork(const HostQueue& queue, const ViewCameras& cameras)
{
    std::vector<HANDLE> handles{queue.wakeEvent()};
    for (const HANDLE event : cameras.newImageEvents()) {
        if (handles.size() == MAXIMUM_WAIT_OBJECTS - 1)
            break;
        handles.push_back(event);
    }
    MsgWaitForMultipleObjects(static_cast<DWORD>(handles.size()), handles.data(), FALSE, kIdleWaitMs,
                              QS_ALLINPUT);
}

} // namespace

bool parseListenAddress(const std::string& text, std::string& address, int& port)
{
    const std::size_t colon = text.rfind(':');
    if (colon == std::string::npos || colon == 0 || colon + 1 == text.size() || text.size() - colon - 1 > 5)
        return false;
    const std::string portText = text.substr(colon + 1);
    if (portText.find_first_not_of("0123456789") != std::string::npos)
        return false;
    port = std::stoi(portText);
    address = text.substr(0, colon);
    // "[::1]:8080": the brackets are the URL's, not the address's.
    if (address.size() > 2 && address.front() == '[' && address.back() == ']')
        address = address.substr(1, address.size() - 2);
    return port <= 65535;
}

int runView(Session& session, const ViewOptions& options, std::ostream& out, std::ostream& err)
{
    std::string address;
    int port = 0;
    if (!parseListenAddress(options.listen, address, port)) {
        err << "orvex: --listen '" << options.listen << "': expected ADDR:PORT with PORT from 0 to 65535\n";
        return 2;
    }
    const bool bcamSession = options.backend == "bcam";
    std::vector<ViewStack> stacks = {
        {&session.server(), session.cameras(), bcamSession ? "bcam" : "flycap", ""}};
    std::unique_ptr<ViewBcamStack> bcamBeside;
    if (options.backend == "all") {
        bcamBeside = std::make_unique<ViewBcamStack>();
        stacks.push_back({&bcamBeside->server(), bcamBeside->cameras(), "bcam", "bcam-"});
    }
    HostQueue queue;
    ViewCameras cameras(stacks);
    std::vector<std::unique_ptr<RemovalWatch>> watches;
    watches.push_back(std::make_unique<RemovalWatch>(session.server(), "camera", cameras));
    if (bcamBeside)
        watches.push_back(std::make_unique<RemovalWatch>(bcamBeside->server(), "BCAM camera", cameras));
    ViewSync sync(bcamSession ? nullptr : &session);
    sync.setFieldMode(options.syncField);
    if (!options.syncMaster.empty()) {
        const ActionResult started = sync.start(options.syncMaster);
        if (started.outcome != ActionResult::Outcome::done) {
            err << "orvex: --sync " << options.syncMaster << ": " << started.message << "\n";
            return started.outcome == ActionResult::Outcome::badRequest ? 2 : 1;
        }
    }
    HttpServer server{HttpLimits{}};
    std::pair<std::string, unsigned short> bound;
    try {
        bound = server.listen(address, static_cast<unsigned short>(port));
    } catch (const ListenError& error) {
        err << "orvex: " << error.what() << "\n";
        return 1;
    }
    const StopSignals signals;
    {
        // Stopped (within a second, whatever the clients do) before the
        // cameras it reaches go.
        const ServingGuard serving(server, makeViewHandlers(queue, cameras, sync,
                                                            ViewAccess(address, bound.first, bound.second),
                                                            options.jpegQuality));
        out << "orvex view: serving " << browserUrl(bound.first, bound.second)
            << (isAnyAddress(bound.first) ? " on every address of this machine" : "") << " (Ctrl-C stops)"
            << std::endl;
        while (!g_stopRequested) {
            waitForWork(queue, cameras);
            queue.setDispatching(true);
            session.pumpMessages();
            queue.setDispatching(false);
            queue.runPending();
            try {
                cameras.poll();
            } catch (const std::exception& error) {
                err << "orvex: " << error.what() << "\n";
            }
        }
        // Requests still waiting for the main thread get "busy" from here on.
        queue.close();
    }
    // The controller goes before the cameras it reads.
    if (sync.stop().outcome == ActionResult::Outcome::done)
        out << "orvex view: synchronisation stopped" << std::endl;
    out << "orvex view: stopped" << std::endl;
    return 0;
}

int serveView(const ViewOptions& options)
{
    Session session(options.backend == "bcam" ? Backend::bcam : Backend::flycap, true);
    session.reportUnavailable(std::cerr);
    return runView(session, options, std::cout, std::cerr);
}

} // namespace orvex::cli
