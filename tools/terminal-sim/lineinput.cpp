#include "lineinput.h"

#include <cerrno>
#include <unistd.h>

LineRead LineInput::readAvailable() {
    LineRead result;
    char buffer[1024];
    const ssize_t got = ::read(m_fd, buffer, sizeof buffer);
    if (got < 0) {
        result.ended = errno != EINTR && errno != EAGAIN;
        return result;
    }
    if (got == 0) {
        // A last line without its line end still counts.
        if (!m_pending.empty() && !m_discarding)
            result.lines.push_back(takePending());
        result.ended = true;
        return result;
    }
    for (ssize_t i = 0; i < got; ++i) {
        const char c = buffer[i];
        if (c == '\n') {
            if (!m_discarding)
                result.lines.push_back(takePending());
            m_pending.clear();
            m_discarding = false;
        } else if (!m_discarding) {
            if (m_pending.size() < MaxLineLength) {
                m_pending.push_back(c);
            } else {
                m_pending.clear();
                m_discarding = true;
                ++result.discarded;
            }
        }
    }
    return result;
}

std::string LineInput::takePending() {
    m_delivered = true;
    std::string line;
    line.swap(m_pending);
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return line;
}
