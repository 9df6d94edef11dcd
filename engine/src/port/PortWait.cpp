#include "port/PortWait.h"

#include "base/Errors.h"
#include "base/ModuleThread.h"

#include <mutex>

namespace playctrl {

namespace {
struct Graph {
    std::mutex mutex;
    // -- protected by mutex
    int waits[kPortCount][kPortCount] = {}; // [a][b]: threads of port a waiting for port b
};

Graph &graph() {
    static Graph *g = new Graph; // never destroyed, like the port table
    return *g;
}

bool reaches(const Graph &g, LONG from, LONG to) {
    bool seen[kPortCount] = {};
    LONG stack[kPortCount];
    int depth = 0;
    stack[depth++] = from;
    seen[from] = true;
    while (depth > 0) {
        LONG at = stack[--depth];
        for (LONG next = 0; next < kPortCount; ++next) {
            if (g.waits[at][next] == 0) {
                continue;
            }
            if (next == to) {
                return true;
            }
            if (!seen[next]) {
                seen[next] = true;
                stack[depth++] = next;
            }
        }
    }
    return false;
}
} // namespace

PortWait::PortWait(LONG target) {
    LONG from = ModuleThread::currentPort();
    if (from < 0 || target < 0 || target >= kPortCount) {
        return;
    }
    Graph &g = graph();
    std::lock_guard<std::mutex> lock(g.mutex);
    if (reaches(g, target, from)) {
        throw EngineError{kOrderIncorrect};
    }
    ++g.waits[from][target];
    from_ = from;
    to_ = target;
}

PortWait::~PortWait() {
    if (from_ < 0) {
        return;
    }
    Graph &g = graph();
    std::lock_guard<std::mutex> lock(g.mutex);
    --g.waits[from_][to_];
}

} // namespace playctrl
