// A GDB remote serial protocol server for one debugger connection on 127.0.0.1. It halts
// the target between packets and resumes it in bounded slices, looking for the debugger's
// interrupt byte (Ctrl-C) between two slices.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

#include "sim/debug/gdb_target.h"

namespace sim::debug {

struct GdbServerOptions {
    uint64_t sliceInstructions = 100000;  // run() budget between two looks at the socket
    int acceptTimeoutMs = -1;             // -1: wait for the debugger as long as it takes
};

enum class SessionEnd { Detached, Killed, Disconnected, NoConnection };

class GdbServer {
public:
    explicit GdbServer(GdbTarget& target, const GdbServerOptions& options = {});
    ~GdbServer();
    GdbServer(const GdbServer&) = delete;
    GdbServer& operator=(const GdbServer&) = delete;

    // Binds 127.0.0.1:port (0: a free port, read back with port()). False with error() set.
    bool listen(uint16_t port);
    uint16_t port() const { return port_; }
    const std::string& error() const { return error_; }

    // Accepts one connection and serves it until the debugger detaches, kills or hangs up.
    SessionEnd serve();

private:
    enum class Resume { Continue, Step };

    GdbTarget& target_;
    GdbServerOptions opt_;
    int listenFd_ = -1;
    int fd_ = -1;
    uint16_t port_ = 0;
    std::string error_;

    std::string in_;        // bytes received, not yet taken
    std::string lastSent_;  // framed, for a resend on '-'
    bool noAck_ = false;
    bool startNoAck_ = false;
    bool interrupted_ = false;  // a Ctrl-C arrived while the target ran
    bool hungUp_ = false;       // the debugger went away while the target ran
    std::string lastStop_ = "S05";
    bool ended_ = false;        // the target reported Ended
    std::string endReply_;

    bool fill(int timeoutMs);  // false: the peer hung up
    bool nextPacket(std::string& packet);
    void send(std::string_view payload);
    void sendConsole(std::string_view text);

    // Returns false when the session is over (end_ set).
    bool handle(const std::string& packet);
    std::string resume(Resume how);
    std::string stopReply(const StopEvent& e);
    std::string readRegisters();
    std::string writeRegisters(std::string_view hex);
    std::string readMemory(std::string_view args);
    std::string writeMemory(std::string_view args, bool binary);
    std::string breakpoint(bool insert, std::string_view args);
    std::string query(const std::string& packet);
    std::string vCont(std::string_view args);
    std::string monitor(std::string_view hex);

    SessionEnd end_ = SessionEnd::Disconnected;
};

}  // namespace sim::debug
