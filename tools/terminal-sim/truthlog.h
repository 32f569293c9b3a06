#pragma once

#include "terminalmodel.h"

#include <cstdio>
#include <string>

struct TruthOpen {
    bool ok = false;
    std::string error;
};

// The ground-truth file: one JSON object per recorded weighing, written and flushed at once so
// that a test reading it while the simulator runs sees every weighing already in the ring.
class TruthLog {
public:
    TruthLog() = default;
    ~TruthLog();
    TruthLog(const TruthLog&) = delete;
    TruthLog& operator=(const TruthLog&) = delete;

    // Starts the file afresh.
    TruthOpen open(const std::string& path);
    bool isOpen() const { return m_file != nullptr; }

    // {"number":N,"slot":S,"weight":W,"component":C,"datetime":"yyyy-MM-dd HH:mm:ss"}; a weight
    // changed in place repeats its weighing's line with "corrected":true. False when the line
    // could not be written.
    bool write(const RecordedWeighing& weighing, bool corrected = false);

    // The weight as decimal text that converts back to exactly the stored single value, and to
    // exactly its double value as well.
    static std::string weightText(float weight);

private:
    std::FILE* m_file = nullptr;
};
