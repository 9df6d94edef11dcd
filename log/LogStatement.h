// The log statement: a level and ordered string and integer pieces. The threshold is asked
// for first, so a filtered statement costs one CQorLog::GetLevel call and builds nothing.
#ifndef KESTRAVA_LOG_LOGSTATEMENT_H
#define KESTRAVA_LOG_LOGSTATEMENT_H

#include "QorLog.h"

#include <sstream>

namespace kestrava {
namespace logdetail {

inline void appendPiece(std::ostringstream &text, const char *piece) {
    if (piece) { // a null text adds nothing rather than failing the stream
        text << piece;
    }
}
inline void appendPiece(std::ostringstream &text, int piece) {
    text << piece;
}
inline void appendPiece(std::ostringstream &text, long piece) {
    text << piece;
}
inline void appendPiece(std::ostringstream &text, unsigned int piece) {
    text << piece;
}
inline void appendPiece(std::ostringstream &text, unsigned long piece) {
    text << piece;
}

// Out of line from the threshold test, so the filtered path stays a compare and a branch.
template <class... Pieces>
__attribute__((noinline, cold)) void composeAndLog(CQorLog::LOG_LEVEL level, const char *file,
                                                   int line, const Pieces &...pieces) noexcept {
    try {
        std::ostringstream text;
        (appendPiece(text, pieces), ...);
        const std::string composed = text.str();
        CQorLog::Log(level, composed.c_str(), file, line);
    } catch (...) {
        // Logging never fails its caller; an entry that cannot be composed is dropped.
    }
}

} // namespace logdetail

inline bool logWanted(CQorLog::LOG_LEVEL level) {
    return static_cast<int>(CQorLog::GetLevel()) <= static_cast<int>(level);
}

template <class... Pieces>
inline void logStatement(CQorLog::LOG_LEVEL level, const char *file, int line,
                         const Pieces &...pieces) noexcept {
    if (logWanted(level)) {
        logdetail::composeAndLog(level, file, line, pieces...);
    }
}

} // namespace kestrava

// LOG_STATEMENT(level, piece, ...): pieces are narrow texts and 32-bit integers, joined in order
// with nothing between them; the entry carries this statement's file and line.
#define LOG_STATEMENT(level, ...) ::kestrava::logStatement((level), __FILE__, __LINE__, __VA_ARGS__)

#endif
