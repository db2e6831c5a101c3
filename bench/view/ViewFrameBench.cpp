// What the viewer spends of CPU per displayed frame, in the same run as its
// baselines, in two tables:
//
// - the encoding alone, in process: the preview's copy out of the camera's
//   image and its encoding as PNG (the fallback), as JPEG through
//   libturbojpeg's packed-pixel entry (the path the viewer took before) and
//   as the viewer encodes now, at VGA and at 5 megapixels; rounds alternate
//   the encoders so that all see the same machine;
// - through the whole viewer: `orvex view` on the simulated world, phases
//   alternating nobody watching, a client that watches the live preview as
//   the page does (one `stream` answer, each part taken as it comes), one
//   that asks for it per image as the page did before (`frame`: once an
//   image came, not before 0.9 of the camera's period after its last
//   request, then on the next 1/60 s tick; CLIENT_PACE=frames: on every
//   tick; CLIENT_FPS=0: back to back), and the same for PNG (`frame.png`);
//   the viewer's CPU per new image displayed is the process's CPU over the
//   watched phase less what the unwatched phase before it spent in as long.
//
// Two kinds of picture: the simulated camera's gradient (what the simulated
// world sends) and the same with sensor-like noise (what a real camera
// sends, and the harder case for both encoders). The simulated camera sends
// no noise: through the whole viewer its row adds, to the gradient's figure,
// the difference the encodings alone show.
//
//     view_frame_bench [FRAMES_PER_ROUND] [ROUNDS] [JPEG_QUALITY] [SECONDS_PER_PHASE] [ORVEX]
//
// ORVEX: another build of the command (an earlier one, as a baseline in
// the same sitting); VIEW_SIZES=vga: the VGA row alone.
#include "support/ProcessFigures.h"
#include "view/Image.h"

#include <orvex/sim/FramePattern.h>

#include <turbojpeg.h>

#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using orvex::bench::processCpuSeconds;
using orvex::bench::wallSeconds;
using orvex::cli::copyForView;
using orvex::cli::ViewFrame;

struct Picture {
    const char* name;
    uint32_t width, height;
    bool noisy;
};

std::vector<uint8_t> makePicture(const Picture& picture)
{
    orvex::sim::FrameGeometry geometry;
    geometry.width = picture.width;
    geometry.height = picture.height;
    std::vector<uint8_t> pixels(geometry.imageBytes());
    orvex::sim::pattern::fill(pixels.data(), geometry);
    if (picture.noisy) {
        uint32_t state = 12345;
        for (uint8_t& pixel : pixels) {
            state = state * 1664525u + 1013904223u;
            const int noise = static_cast<int>(state >> 28) - 8; // -8 to +7 grey levels
            pixel = static_cast<uint8_t>(std::clamp(pixel + noise, 0, 255));
        }
    }
    return pixels;
}

// The viewer's JPEG path before: libturbojpeg's packed-pixel entry, grey
// pixels as TJPF_GRAY.
std::string encodeJpegPacked(const ViewFrame& frame, int quality)
{
    static tjhandle compressor = tjInitCompress();
    static std::vector<unsigned char> buffer;
    const auto width = static_cast<int>(frame.width);
    const auto height = static_cast<int>(frame.height);
    buffer.resize(std::max<size_t>(buffer.size(), tjBufSize(width, height, TJSAMP_GRAY)));
    unsigned char* out = buffer.data();
    unsigned long size = buffer.size();
    if (tjCompress2(compressor, frame.pixels.data(), width, width, height, TJPF_GRAY, &out, &size,
                    TJSAMP_GRAY, quality, TJFLAG_NOREALLOC | TJFLAG_FASTDCT) != 0)
        throw std::runtime_error(tjGetErrorStr2(compressor));
    return std::string(reinterpret_cast<const char*>(out), size);
}

struct Figures {
    double msPerFrame;
    size_t bytes;
};

// CPU of `frames` displayed frames: copy the preview, encode it.
Figures round(const std::vector<uint8_t>& pixels, const Picture& picture, int frames,
              const std::function<std::string(const ViewFrame&)>& encode)
{
    size_t bytes = 0;
    const double start = processCpuSeconds();
    for (int i = 0; i < frames; ++i) {
        const ViewFrame preview = copyForView(pixels.data(), picture.width, picture.height, 1, false);
        bytes = encode(preview).size();
    }
    return {1000.0 * (processCpuSeconds() - start) / frames, bytes};
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

int positive(const char* text, int fallback, int highest)
{
    if (text == nullptr)
        return fallback;
    const int value = std::atoi(text);
    return value >= 1 && value <= highest ? value : fallback;
}

// --- through the whole viewer -------------------------------------------

// `orvex view` on the simulated world, as a user starts it.
class ViewerProcess {
public:
    explicit ViewerProcess(const std::string& tool, int quality)
    {
        int out[2];
        if (pipe(out) != 0)
            throw std::runtime_error("pipe failed");
        _pid = fork();
        if (_pid < 0)
            throw std::runtime_error("fork failed");
        if (_pid == 0) {
            dup2(out[1], STDOUT_FILENO);
            close(out[0]);
            close(out[1]);
            const std::string q = std::to_string(quality);
            execl(tool.c_str(), tool.c_str(), "view", "--listen", "127.0.0.1:0", "--jpeg-quality", q.c_str(),
                  static_cast<char*>(nullptr));
            _exit(127);
        }
        close(out[1]);
        std::string line;
        char c = 0;
        while (read(out[0], &c, 1) == 1 && c != '\n')
            line += c;
        _output = out[0];
        const std::size_t at = line.find("http://127.0.0.1:");
        if (at == std::string::npos)
            throw std::runtime_error("orvex view did not start: " + line);
        _port = std::atoi(line.c_str() + at + 17);
    }
    ~ViewerProcess()
    {
        kill(_pid, SIGINT);
        int status = 0;
        waitpid(_pid, &status, 0);
        close(_output);
    }
    ViewerProcess(const ViewerProcess&) = delete;
    ViewerProcess& operator=(const ViewerProcess&) = delete;

    int port() const { return _port; }
    // CPU of every thread of the process so far, in seconds.
    double cpuSeconds() const
    {
        double total = 0;
        const std::string tasks = "/proc/" + std::to_string(_pid) + "/task";
        DIR* dir = opendir(tasks.c_str());
        if (dir == nullptr)
            return 0;
        while (const dirent* entry = readdir(dir)) {
            if (entry->d_name[0] == '.')
                continue;
            std::FILE* stat = std::fopen((tasks + "/" + entry->d_name + "/schedstat").c_str(), "r");
            unsigned long long ns = 0;
            if (stat != nullptr && std::fscanf(stat, "%llu", &ns) == 1)
                total += static_cast<double>(ns) * 1e-9;
            if (stat != nullptr)
                std::fclose(stat);
        }
        closedir(dir);
        return total;
    }

private:
    pid_t _pid = -1;
    int _output = -1;
    int _port = 0;
};

int connectToPort(int port)
{
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd < 0 || connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        if (fd >= 0)
            close(fd);
        throw std::runtime_error("cannot connect to the viewer");
    }
    return fd;
}

// The value of header `name` (lower case) in `head`; empty when absent.
std::string headerField(const std::string& head, const std::string& name)
{
    std::string lower = head;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    const std::size_t at = lower.find("\r\n" + name + ":");
    if (at == std::string::npos)
        return {};
    const std::size_t from = head.find_first_not_of(' ', at + name.size() + 3);
    return head.substr(from, head.find("\r\n", from) - from);
}

// One keep-alive connection, as a browser holds one.
class Client {
public:
    explicit Client(int port) : _port(port) { connectToViewer(); }
    ~Client() { close(_socket); }
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;

    struct Answer {
        int status = 0;
        std::string index; // X-Orvex-Index
        std::size_t bytes = 0;
        std::string body; // when kept
    };

    // A browser opens a new connection when the viewer closed an idle one
    // (phases longer than the viewer's idle time): so does this client.
    Answer request(const std::string& method, const std::string& path, const std::string& form = "",
                   bool keepBody = false)
    {
        try {
            return exchange(method, path, form, keepBody);
        } catch (const Closed&) {
            close(_socket);
            _buffer.clear();
            connectToViewer();
            return exchange(method, path, form, keepBody);
        }
    }

private:
    struct Closed : std::runtime_error {
        Closed() : std::runtime_error("the viewer closed the connection") {}
    };

    void connectToViewer() { _socket = connectToPort(_port); }

    Answer exchange(const std::string& method, const std::string& path, const std::string& form,
                    bool keepBody)
    {
        std::string text = method + " " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n";
        if (method == "POST")
            text += "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: " +
                    std::to_string(form.size()) + "\r\n";
        text += "\r\n" + form;
        if (send(_socket, text.data(), text.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(text.size()))
            throw Closed();
        std::size_t end;
        while ((end = _buffer.find("\r\n\r\n")) == std::string::npos)
            receive();
        const std::string head = _buffer.substr(0, end + 2);
        Answer answer;
        answer.status = std::atoi(head.c_str() + 9);
        answer.bytes = static_cast<std::size_t>(std::atol(field(head, "content-length").c_str()));
        answer.index = field(head, "x-orvex-index");
        while (_buffer.size() < end + 4 + answer.bytes)
            receive();
        if (keepBody)
            answer.body = _buffer.substr(end + 4, answer.bytes);
        _buffer.erase(0, end + 4 + answer.bytes);
        return answer;
    }

    void receive()
    {
        char chunk[65536];
        const ssize_t got = recv(_socket, chunk, sizeof chunk, 0);
        if (got <= 0)
            throw Closed();
        _buffer.append(chunk, static_cast<std::size_t>(got));
    }
    static std::string field(const std::string& head, const std::string& name)
    {
        return headerField(head, name);
    }

    int _port;
    int _socket = -1;
    std::string _buffer;
};

// What a watched or unwatched phase cost the viewer.
struct Phase {
    double cpu = 0;     // seconds, all of the viewer's threads
    double seconds = 0; // wall time
    int answers = 0;
    int displayed = 0; // new images among the answers
};

void sleepSeconds(double seconds)
{
    if (seconds <= 0)
        return;
    timespec pause{static_cast<time_t>(seconds),
                   static_cast<long>((seconds - static_cast<double>(static_cast<time_t>(seconds))) * 1e9)};
    nanosleep(&pause, nullptr);
}

Phase idlePhase(const ViewerProcess& viewer, double seconds)
{
    Phase phase;
    const double cpu = viewer.cpuSeconds(), start = wallSeconds();
    sleepSeconds(seconds);
    phase.cpu = viewer.cpuSeconds() - cpu;
    phase.seconds = wallSeconds() - start;
    return phase;
}

// A client that asks for `path` as the page does: once an image has come,
// not before 0.9 of the camera's period (`cameraFps`, at most 100 ms) after
// the last request, then on the next animation frame (1/`clientFps`).
// Without `cameraFps`, on each animation frame; without `clientFps`, at once.
Phase watchPhase(const ViewerProcess& viewer, Client& client, const std::string& path, double seconds,
                 double clientFps, double cameraFps)
{
    Phase phase;
    std::set<std::string> seen;
    const double cpu = viewer.cpuSeconds(), start = wallSeconds();
    double requestedAt = 0;
    while (wallSeconds() - start < seconds) {
        if (clientFps > 0) {
            if (cameraFps > 0)
                sleepSeconds(requestedAt + std::min(0.9 / cameraFps, 0.1) - wallSeconds());
            const double tick = 1.0 / clientFps;
            sleepSeconds(tick - std::fmod(wallSeconds(), tick));
        }
        requestedAt = wallSeconds();
        const Client::Answer answer = client.request("GET", path);
        if (answer.status == 200) {
            ++phase.answers;
            seen.insert(answer.index);
        }
    }
    phase.cpu = viewer.cpuSeconds() - cpu;
    phase.seconds = wallSeconds() - start;
    phase.displayed = static_cast<int>(seen.size());
    return phase;
}

// A client that watches `path` as the page does: one streamed answer, each
// part taken as it comes, for `seconds`.
Phase streamPhase(const ViewerProcess& viewer, const std::string& path, double seconds)
{
    Phase phase;
    std::set<std::string> seen;
    const double cpu = viewer.cpuSeconds(), start = wallSeconds();
    const int fd = connectToPort(viewer.port());
    const std::string request = "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
    std::string buffer;
    bool open =
        send(fd, request.data(), request.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(request.size());
    const auto receive = [&]() {
        char chunk[65536];
        const ssize_t got = open ? recv(fd, chunk, sizeof chunk, 0) : 0;
        if (got <= 0)
            open = false;
        else
            buffer.append(chunk, static_cast<std::size_t>(got));
        return open;
    };
    // The answer's head, then parts: their heads end at a blank line, their
    // bodies run for their length.
    std::size_t end;
    while ((end = buffer.find("\r\n\r\n")) == std::string::npos && receive()) {
    }
    if (open && std::atoi(buffer.c_str() + 9) == 200) {
        buffer.erase(0, end + 4);
        while (wallSeconds() - start < seconds) {
            while ((end = buffer.find("\r\n\r\n")) == std::string::npos && receive()) {
            }
            if (!open)
                break;
            const std::string head = "\r\n" + buffer.substr(0, end + 2);
            const auto bytes =
                static_cast<std::size_t>(std::atol(headerField(head, "content-length").c_str()));
            while (buffer.size() < end + 4 + bytes && receive()) {
            }
            if (!open)
                break;
            ++phase.answers;
            seen.insert(headerField(head, "x-orvex-index"));
            buffer.erase(0, end + 4 + bytes);
        }
    }
    close(fd);
    phase.cpu = viewer.cpuSeconds() - cpu;
    phase.seconds = wallSeconds() - start;
    phase.displayed = static_cast<int>(seen.size());
    return phase;
}

// The viewer's CPU per displayed frame in ms: the watched phase less the
// unwatched one's rate over as long.
double perDisplayed(const Phase& watched, const Phase& idle)
{
    const double own = watched.cpu - idle.cpu / idle.seconds * watched.seconds;
    return 1000.0 * own / std::max(watched.displayed, 1);
}

struct ViewerFigures {
    double streamMs = 0, jpegMs = 0, pngMs = 0;
    double jpegAnswers = 0, pngAnswers = 0; // answers per displayed frame
    double fps = 0;                         // new images displayed per second
};

// The camera at `port`, configured by `settings` (name, value), watched
// through the viewer for `rounds` rounds of idle, stream, idle, JPEG, idle,
// PNG.
ViewerFigures throughViewer(const std::string& tool, int quality, const std::string& port,
                            const std::vector<std::pair<std::string, std::string>>& settings, int rounds,
                            double seconds, double clientFps, bool pacedToCamera)
{
    const ViewerProcess viewer(tool, quality);
    Client client(viewer.port());
    const std::string camera = "/api/cameras/" + port + "/";
    for (const auto& [name, value] : settings) {
        std::string form = "name=";
        form.append(name).append("&value=").append(value);
        if (client.request("POST", camera + "settings", form).status != 200)
            std::fprintf(stderr, "view_frame_bench: camera %s refused %s %s\n", port.c_str(), name.c_str(),
                         value.c_str());
    }
    if (client.request("POST", camera + "start").status != 200)
        throw std::runtime_error("camera " + port + " did not start");
    const double deadline = wallSeconds() + 10;
    while (client.request("GET", camera + "frame.png").status != 200) {
        if (wallSeconds() > deadline)
            throw std::runtime_error("no image from camera " + port);
    }
    // The camera's rate as the page reads it from the state.
    sleepSeconds(1.5);
    const std::string state = client.request("GET", "/api/state", "", true).body;
    const std::size_t entry = state.find("\"id\":\"" + port + "\"");
    const std::size_t rate = state.find("\"fps\":", entry);
    const double cameraFps = pacedToCamera && entry != std::string::npos && rate != std::string::npos
                                 ? std::atof(state.c_str() + rate + 6)
                                 : 0.0;
    std::vector<double> streamMs, jpegMs, pngMs, jpegAnswers, pngAnswers, fps;
    for (int r = 0; r < rounds; ++r) {
        const Phase idleBeforeStream = idlePhase(viewer, seconds);
        const Phase stream = streamPhase(viewer, camera + "stream", seconds);
        const Phase idleBeforeJpeg = idlePhase(viewer, seconds);
        const Phase jpeg = watchPhase(viewer, client, camera + "frame", seconds, clientFps, cameraFps);
        const Phase idleBeforePng = idlePhase(viewer, seconds);
        const Phase png = watchPhase(viewer, client, camera + "frame.png", seconds, clientFps, cameraFps);
        // A viewer without the stream (an earlier build) shows nothing there.
        streamMs.push_back(stream.displayed > 0 ? perDisplayed(stream, idleBeforeStream) : std::nan(""));
        jpegMs.push_back(perDisplayed(jpeg, idleBeforeJpeg));
        pngMs.push_back(perDisplayed(png, idleBeforePng));
        jpegAnswers.push_back(static_cast<double>(jpeg.answers) / std::max(jpeg.displayed, 1));
        pngAnswers.push_back(static_cast<double>(png.answers) / std::max(png.displayed, 1));
        fps.push_back(std::max(stream.displayed / stream.seconds, jpeg.displayed / jpeg.seconds));
    }
    return {median(streamMs),    median(jpegMs),     median(pngMs),
            median(jpegAnswers), median(pngAnswers), median(fps)};
}

int run(int argc, char** argv)
{
    const int frames = positive(argc > 1 ? argv[1] : nullptr, 100, 100000);
    const int rounds = positive(argc > 2 ? argv[2] : nullptr, 5, 1000);
    const int quality = positive(argc > 3 ? argv[3] : nullptr, orvex::cli::kJpegQualityDefault, 100);
    const int seconds = positive(argc > 4 ? argv[4] : nullptr, 3, 600);
    const std::string tool = argc > 5 ? argv[5] : ORVEX_TOOL_PATH;
    const char* fpsText = std::getenv("CLIENT_FPS");
    const double clientFps = fpsText != nullptr ? std::atof(fpsText) : 60.0;
    // "frames": on every animation frame, as the page asked before it
    // paced itself to the camera.
    const char* paceText = std::getenv("CLIENT_PACE");
    const bool pacedToCamera = paceText == nullptr || std::string(paceText) != "frames";
    const Picture pictures[] = {
        {"VGA gradient", 640, 480, false},
        {"VGA noisy", 640, 480, true},
        {"5 MP gradient", 2448, 2048, false},
        {"5 MP noisy", 2448, 2048, true},
    };
    std::printf("The encoding alone: CPU per displayed frame (preview copy + encoding), median of %d rounds "
                "of %d frames, JPEG quality %d\n",
                rounds, frames, quality);
    std::printf("%-14s %9s %10s %13s %9s %10s %11s\n", "picture", "PNG ms", "PNG bytes", "JPEG before ms",
                "JPEG ms", "JPEG bytes", "before/now");
    std::vector<double> encodeMs;
    for (const Picture& picture : pictures) {
        const std::vector<uint8_t> pixels = makePicture(picture);
        const auto jpeg = [quality](const ViewFrame& frame) {
            return orvex::cli::encodeJpeg(frame, quality);
        };
        const auto before = [quality](const ViewFrame& frame) { return encodeJpegPacked(frame, quality); };
        std::vector<double> pngMs, beforeMs, jpegMs;
        Figures png{}, old{}, jpg{};
        for (int r = 0; r < rounds; ++r) {
            png = round(pixels, picture, frames, &orvex::cli::encodePng);
            old = round(pixels, picture, frames, before);
            jpg = round(pixels, picture, frames, jpeg);
            pngMs.push_back(png.msPerFrame);
            beforeMs.push_back(old.msPerFrame);
            jpegMs.push_back(jpg.msPerFrame);
        }
        const double beforeMedian = median(beforeMs), jpegMedian = median(jpegMs);
        encodeMs.push_back(jpegMedian);
        std::printf("%-14s %9.3f %10zu %13.3f %9.3f %10zu %10.2fx\n", picture.name, median(pngMs), png.bytes,
                    beforeMedian, jpegMedian, jpg.bytes, beforeMedian / jpegMedian);
    }

    std::printf("\nThrough the whole viewer (%s): CPU per displayed frame, median of %d rounds of %d s "
                "per phase, client at %s%s\n",
                tool.c_str(), rounds, seconds,
                clientFps > 0 ? (std::to_string(static_cast<int>(clientFps)) + " requests/s at most").c_str()
                              : "full speed",
                clientFps > 0 && pacedToCamera ? ", paced to the camera as the page is" : "");
    std::printf("%-16s %8s %9s %9s %13s %8s %12s\n", "picture", "images/s", "stream ms", "JPEG ms",
                "answers/image", "PNG ms", "answers/image");
    try {
        const ViewerFigures vga =
            throughViewer(tool, quality, "0", {{"roi", "0,0,640,480"}, {"frame-rate", "30"}}, rounds, seconds,
                          clientFps, pacedToCamera);
        std::printf("%-16s %8.1f %9.3f %9.3f %13.2f %8.3f %12.2f\n", "VGA gradient", vga.fps, vga.streamMs,
                    vga.jpegMs, vga.jpegAnswers, vga.pngMs, vga.pngAnswers);
        std::printf("%-16s %8s %9.3f %9.3f %13s %8s %12s\n", "VGA noisy *", "",
                    vga.streamMs + encodeMs[1] - encodeMs[0], vga.jpegMs + encodeMs[1] - encodeMs[0], "", "",
                    "");
        // VIEW_SIZES=vga: the VGA row alone, for quick comparisons.
        const char* sizes = std::getenv("VIEW_SIZES");
        if (sizes != nullptr && std::string(sizes) == "vga")
            return 0;
        const ViewerFigures fiveMp =
            throughViewer(tool, quality, "2", {}, rounds, seconds, clientFps, pacedToCamera);
        std::printf("%-16s %8.1f %9.3f %9.3f %13.2f %8.3f %12.2f\n", "5 MP gradient", fiveMp.fps,
                    fiveMp.streamMs, fiveMp.jpegMs, fiveMp.jpegAnswers, fiveMp.pngMs, fiveMp.pngAnswers);
        std::printf("%-16s %8s %9.3f %9.3f %13s %8s %12s\n", "5 MP noisy *", "",
                    fiveMp.streamMs + encodeMs[3] - encodeMs[2], fiveMp.jpegMs + encodeMs[3] - encodeMs[2],
                    "", "", "");
        std::printf(
            "* the gradient's figure plus the difference of the encodings alone: the simulated camera "
            "sends no noise\n");
    } catch (const std::exception& error) {
        std::fprintf(stderr, "view_frame_bench: through the viewer: %s\n", error.what());
        return 1;
    }
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    try {
        return run(argc, argv);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "view_frame_bench: %s\n", error.what());
        return 1;
    }
}
