#pragma once
// A pseudo-terminal pair standing in for a modem's serial line, for tests and benchmarks
// (compile pty.cpp with them).

#include <cstddef>
#include <string>

namespace quorvane::test {

// The bound of the tests' waits: it only keeps a broken build from hanging and is never reached
// by a slow machine, since every wait ends on the event it waits for.
inline constexpr int kHangGuardMs = 120000;

// The slave is set raw (as a modem line is) and left closed; the master is non-blocking.
class Pty {
public:
    Pty();
    ~Pty();
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;

    int Master() const { return master_; }
    const std::string& SlavePath() const { return slave_; }
    // Opens the slave as the component does (non-blocking); the caller closes it.
    int OpenSlave() const;
    // Writes all of `bytes` to the master.
    void Send(const std::string& bytes) const;
    // Reads from the master until `count` bytes have come.
    std::string Receive(std::size_t count) const;
    // Reads what the master holds now, without waiting.
    std::string ReceiveWaiting() const;
    // Closes the master (the slave hangs up).
    void CloseMaster();

private:
    int master_ = -1;
    std::string slave_;
};

} // namespace quorvane::test
