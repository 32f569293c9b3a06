#include "truthlog.h"

#include <cerrno>
#include <cstring>

TruthLog::~TruthLog() {
    if (m_file)
        std::fclose(m_file);
}

TruthOpen TruthLog::open(const std::string& path) {
    m_file = std::fopen(path.c_str(), "w");
    if (!m_file)
        return TruthOpen{false, path + ": " + std::strerror(errno)};
    return TruthOpen{true, {}};
}

bool TruthLog::write(const RecordedWeighing& weighing, bool corrected) {
    if (!m_file)
        return true;
    const int written = std::fprintf(
        m_file,
        "{\"number\":%u,\"slot\":%d,\"weight\":%s,\"component\":%d,\"datetime\":\"%s\"%s}\n",
        static_cast<unsigned>(weighing.number), weighing.slot, weightText(weighing.weight).c_str(),
        weighing.component, weighing.at.text().c_str(), corrected ? ",\"corrected\":true" : "");
    return written > 0 && std::fflush(m_file) == 0;
}

std::string TruthLog::weightText(float weight) {
    // 17 significant digits reproduce the double exactly, and every single is a double.
    char buffer[40];
    std::snprintf(buffer, sizeof buffer, "%.17g", static_cast<double>(weight));
    return buffer;
}
