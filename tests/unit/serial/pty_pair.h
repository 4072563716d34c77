#pragma once
// A pseudo-terminal pair for the serial tests: the program opens the slave path through
// TComm64, the test plays the other end on the master.
#include <chrono>
#include <string>

namespace tarnik::testing {

class PtyPair {
public:
    PtyPair();
    ~PtyPair();
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    const std::string& SlavePath() const { return slavePath_; }
    int Master() const { return master_; }

    void Write(const std::string& bytes);
    // Reads until count bytes came or the time-out passed; what came.
    std::string Read(std::size_t count,
                     std::chrono::milliseconds timeout = std::chrono::milliseconds(5000));
    // The other end goes away (an unplugged adapter).
    void CloseMaster();

private:
    int master_ = -1;
    std::string slavePath_;
};

} // namespace tarnik::testing
