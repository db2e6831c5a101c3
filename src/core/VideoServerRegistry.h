// The back ends' factories and typed accessors, one line each:
//
//   IEEE1394VideoServer& createFlyCapVideoServer(bool capture)
//   { return orvex::VideoServerRegistry::create<FlyCapVideoServer>(capture); }
//   FlyCapVideoServer& flyCapVideoServer()
//   { return orvex::VideoServerRegistry::typed<FlyCapVideoServer>(); }
//
// Host thread only, like the server itself.
#pragma once

#include <orvex/IEEE1394VideoServer.h>

#include <memory>

namespace orvex {

class VideoServerRegistry {
public:
    // Throws "video server already created" while a server exists; otherwise
    // constructs a Server with the argument and makes it the process-wide
    // server. A constructor that throws leaves no server behind.
    template <class Server> static IEEE1394VideoServer& create(bool captureDeviceNotification)
    {
        refuseIfCreated();
        return install(std::unique_ptr<IEEE1394VideoServer>(new Server(captureDeviceNotification)));
    }

    // The process-wide server as a Server. Throws "video server not created"
    // without one, std::bad_cast when it is of another back end.
    template <class Server> static Server& typed() { return dynamic_cast<Server&>(current()); }

    // The process-wide server, null without one; and its deletion. The free
    // functions videoServer() and destroyVideoServer() go through these: as
    // friends, dllimport functions are refused by mingw's GCC.
    static IEEE1394VideoServer* find();
    static void destroy();

private:
    static void refuseIfCreated();
    static IEEE1394VideoServer& install(std::unique_ptr<IEEE1394VideoServer> server);
    static IEEE1394VideoServer& current();
};

} // namespace orvex
