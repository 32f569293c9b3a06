#pragma once

#include <string>
#include <vector>

struct LineRead {
    std::vector<std::string> lines; // complete lines, without the line end
    bool ended = false;             // end of input: nothing more will come
    int discarded = 0;              // over-long lines thrown away
};

// Splits what arrives on a descriptor into lines. read() is called once per call, only after
// poll() reported the descriptor readable, so the descriptor may stay blocking (stdin is shared
// with the parent and must not be switched to non-blocking).
class LineInput {
public:
    static constexpr std::size_t MaxLineLength = 4096;

    explicit LineInput(int fd)
        : m_fd(fd) {}

    int fd() const { return m_fd; }
    bool deliveredAny() const { return m_delivered; }
    LineRead readAvailable();

private:
    std::string takePending();

    int m_fd;
    std::string m_pending;
    bool m_discarding = false; // inside a line that was already too long
    bool m_delivered = false;
};
