// The thread that runs the streams of every simulated camera whose receiver
// wants its images pushed (a FrameSink that does not pull them): one thread
// for the whole process instead of one per camera. It sleeps until the
// earliest instant one of its cameras has an image due, lets that camera
// deliver (Camera::serviceStream) and plans the camera's next instant from
// the answer.
//
// Stop protocol: Camera::stopStream removes the camera (remove), which
// waits until a delivery of that camera in progress has returned, so no
// image reaches a receiver after its stream stopped; called from the
// scheduler's own thread (a receiver stopping a stream from onFrame) it
// does not wait. The thread ends when no camera is left and starts again
// with the next one.
//
// Threads: every member may be called from any thread, with or without the
// camera's lock except remove (without: it may wait for a delivery). The
// scheduler's lock is never held while it calls a camera.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

namespace orvex::sim {

class Camera;

class StreamScheduler {
public:
    static StreamScheduler& instance();

    void add(Camera& camera);
    void remove(Camera& camera);
    // The camera's plan changed (a trigger, a register): it is asked again now.
    void wake(Camera& camera);

private:
    struct Entry {
        Camera* camera;
        int64_t dueNs;
    };
    StreamScheduler() = default;
    void run();
    Entry* find(const Camera& camera);

    std::mutex _m;
    std::condition_variable _cv;     // the thread: a camera added or woken
    std::condition_variable _served; // remove: a delivery returned
    std::vector<Entry> _entries;
    const Camera* _serving = nullptr; // whose delivery runs now, on the thread
    std::thread::id _thread;
    bool _running = false;
};

} // namespace orvex::sim
