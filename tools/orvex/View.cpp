#include "View.h"

#include "ViewBcamStack.h"
#include "ViewCameras.h"
#include "ViewHostQueue.h"
#include "ViewRoutes.h"
#include "ViewSync.h"

#include <httplib.h>

#include <csignal>
#include <memory>
#include <thread>

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

// The HTTP server on a thread of its own; stopped and joined on the way out,
// before the cameras it reaches go.
class ServerThread {
public:
    explicit ServerThread(httplib::Server& server)
        : _server(server), _thread([this] { _server.listen_after_bind(); })
    {
    }
    ~ServerThread()
    {
        _server.stop();
        _thread.join();
    }
    ServerThread(const ServerThread&) = delete;
    ServerThread& operator=(const ServerThread&) = delete;

private:
    httplib::Server& _server;
    std::thread _thread;
};

// New images wake the main thread through the cameras' windows and HTTP work
// through the queue's event; the time-out is for what cannot wake it: Ctrl-C
// (a signal handler only sets a flag) and the frame rates, counted per second.
constexpr DWORD kIdleWaitMs = 100;

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
        return 1;
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
    ViewSync sync(bcamSession ? nullptr : &session);
    if (!options.syncMaster.empty()) {
        const ActionResult started = sync.start(options.syncMaster);
        if (started.outcome != ActionResult::Outcome::done) {
            err << "orvex: --sync " << options.syncMaster << ": " << started.message << "\n";
            return 1;
        }
    }
    const auto server = makeViewServer(queue, cameras, sync, ViewLimits{});
    const int bound =
        port == 0 ? server->bind_to_any_port(address) : (server->bind_to_port(address, port) ? port : -1);
    if (bound < 0) {
        err << "orvex: cannot listen on " << options.listen << "\n";
        return 1;
    }
    const StopSignals signals;
    {
        const ServerThread serving(*server);
        out << "orvex view: serving http://"
            << (address.find(':') != std::string::npos ? "[" + address + "]" : address) << ":" << bound
            << "/ (Ctrl-C stops)" << std::endl;
        while (!g_stopRequested) {
            const HANDLE wake = queue.wakeEvent();
            MsgWaitForMultipleObjects(1, &wake, FALSE, kIdleWaitMs, QS_ALLINPUT);
            session.pumpMessages();
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

} // namespace orvex::cli
