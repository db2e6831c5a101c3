// Ping-pong between two threads through the Win32 subset's events, next to
// the same ping-pong through a std::condition_variable, in one run: context
// switches (voluntary + involuntary) and CPU per hand-off. One hand-off is one
// thread waking the other; a round trip is two.
//
// Usage: waits_bench [ROUND_TRIPS [REPEATS]]
#include <sys/resource.h>

#include <orvex/win32.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <thread>

namespace {

struct Figures {
    double switchesPerHandOff = 0;
    double cpuMicrosecondsPerHandOff = 0;
    double wallMicrosecondsPerHandOff = 0;
};

double microseconds(const timeval& t)
{
    return static_cast<double>(t.tv_sec) * 1e6 + static_cast<double>(t.tv_usec);
}

// Runs `pingPong(roundTrips)` and measures the whole process around it.
template <typename PingPong> Figures measure(unsigned long roundTrips, PingPong&& pingPong)
{
    rusage before{}, after{};
    getrusage(RUSAGE_SELF, &before);
    const auto start = std::chrono::steady_clock::now();
    pingPong(roundTrips);
    const auto end = std::chrono::steady_clock::now();
    getrusage(RUSAGE_SELF, &after);
    const double handOffs = 2.0 * static_cast<double>(roundTrips);
    const double switches =
        static_cast<double>((after.ru_nvcsw - before.ru_nvcsw) + (after.ru_nivcsw - before.ru_nivcsw));
    const double cpu = microseconds(after.ru_utime) - microseconds(before.ru_utime) +
                       microseconds(after.ru_stime) - microseconds(before.ru_stime);
    Figures figures;
    figures.switchesPerHandOff = switches / handOffs;
    figures.cpuMicrosecondsPerHandOff = cpu / handOffs;
    figures.wallMicrosecondsPerHandOff =
        std::chrono::duration<double, std::micro>(end - start).count() / handOffs;
    return figures;
}

// Two auto-reset events; the partner waits for `ping` and sets `pong`.
void win32PingPong(unsigned long roundTrips, bool waitMultiple)
{
    HANDLE ping = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    HANDLE pong = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    HANDLE quit = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (ping == nullptr || pong == nullptr || quit == nullptr) {
        std::fprintf(stderr, "waits_bench: CreateEventA failed (%lu)\n",
                     static_cast<unsigned long>(GetLastError()));
        std::exit(1);
    }
    std::atomic<bool> stop{false};
    std::thread partner([&] {
        const HANDLE both[2] = {ping, quit};
        for (;;) {
            const DWORD result = waitMultiple ? WaitForMultipleObjects(2, both, FALSE, INFINITE)
                                              : WaitForSingleObject(ping, INFINITE);
            if (result != WAIT_OBJECT_0 || stop)
                return;
            SetEvent(pong);
        }
    });
    for (unsigned long i = 0; i < roundTrips; ++i) {
        SetEvent(ping);
        WaitForSingleObject(pong, INFINITE);
    }
    stop = true;
    SetEvent(quit);
    SetEvent(ping);
    partner.join();
    CloseHandle(ping);
    CloseHandle(pong);
    CloseHandle(quit);
}

// The same exchange through one mutex and condition variable per direction.
struct Baton {
    std::mutex m;
    std::condition_variable cv;
    bool given = false;
    bool ending = false;

    void give()
    {
        {
            std::lock_guard<std::mutex> lock(m);
            given = true;
        }
        cv.notify_one();
    }
    bool take()
    {
        std::unique_lock<std::mutex> lock(m);
        cv.wait(lock, [&] { return given || ending; });
        given = false;
        return !ending;
    }
    void end()
    {
        {
            std::lock_guard<std::mutex> lock(m);
            ending = true;
        }
        cv.notify_one();
    }
};

void conditionVariablePingPong(unsigned long roundTrips)
{
    Baton ping, pong;
    std::thread partner([&] {
        while (ping.take())
            pong.give();
    });
    for (unsigned long i = 0; i < roundTrips; ++i) {
        ping.give();
        pong.take();
    }
    ping.end();
    partner.join();
}

std::optional<unsigned long> parseCount(const char* text, unsigned long max)
{
    if (text == nullptr || *text < '0' || *text > '9')
        return std::nullopt;
    char* end = nullptr;
    errno = 0;
    const unsigned long value = std::strtoul(text, &end, 10);
    if (errno != 0 || *end != '\0' || value == 0 || value > max)
        return std::nullopt;
    return value;
}

void print(const char* name, const Figures& f)
{
    std::printf("%-34s %10.3f %12.2f %12.2f\n", name, f.switchesPerHandOff, f.cpuMicrosecondsPerHandOff,
                f.wallMicrosecondsPerHandOff);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc > 3) {
        std::fprintf(stderr, "usage: waits_bench [ROUND_TRIPS [REPEATS]]\n");
        return 2;
    }
    unsigned long roundTrips = 20000;
    unsigned long repeats = 3;
    if (argc > 1) {
        const auto parsed = parseCount(argv[1], 100000000UL);
        if (!parsed) {
            std::fprintf(stderr, "waits_bench: ROUND_TRIPS must be a whole number from 1 to 100000000\n");
            return 2;
        }
        roundTrips = *parsed;
    }
    if (argc > 2) {
        const auto parsed = parseCount(argv[2], 100UL);
        if (!parsed) {
            std::fprintf(stderr, "waits_bench: REPEATS must be a whole number from 1 to 100\n");
            return 2;
        }
        repeats = *parsed;
    }
    std::printf("%lu round trips (%lu hand-offs) per line\n", roundTrips, 2 * roundTrips);
    std::printf("%-34s %10s %12s %12s\n", "hand-off", "cs/hand-off", "cpu us/h-o", "wall us/h-o");
    for (unsigned long r = 0; r < repeats; ++r) {
        print("std::condition_variable", measure(roundTrips, conditionVariablePingPong));
        print("SetEvent / WaitForSingleObject",
              measure(roundTrips, [](unsigned long n) { win32PingPong(n, false); }));
        print("SetEvent / WaitForMultipleObjects",
              measure(roundTrips, [](unsigned long n) { win32PingPong(n, true); }));
    }
    return 0;
}
