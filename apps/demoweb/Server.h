// One client connection of demoweb, served on its own thread: requests in origin form (for the
// host in their Host header), in absolute form (a forward proxy's requests, for any host), and
// CONNECT, after which the tunnel is answered with TLS under a certificate for the requested host
// and its requests are served as https.
//
// Every request is logged as one line on the log before it is answered:
//   <METHOD> <absolute URL>[ <Header>="<value>"]...
// with the notable request headers (User-Agent, Cookie, Referer, ...) in a fixed order, and then
// waits while a hold of the context's holds matches that line. A peer that
// sends what is not HTTP, or more than the named limits allow, is answered 400 and dropped.
#pragma once

#include "Authority.h"
#include "Holds.h"

#include <functional>
#include <string>

namespace demoweb {

struct ServerContext {
    std::string sitesDirectory;
    Authority* authority = nullptr;
    std::function<void(const std::string&)> log; // called from many threads at once
    RequestHolds* holds = nullptr; // when set, each logged request waits for its holds to end
};

// Serves the connection on socket until either side closes it; closes the socket.
void ServeConnection(int socket, const ServerContext& context);

}
