// Binary contract of the log library QorLog.dll.
#ifndef QORLOG_H
#define QORLOG_H

#ifdef QORLOG_BUILDING
#define QORLOG_API __declspec(dllexport)
#else
#define QORLOG_API __declspec(dllimport)
#endif

class QORLOG_API CQorLog {
  public:
    enum LOG_LEVEL {
        TRACE_LEVEL = 0,
        DEBUG_LEVEL = 10000,
        INFO_LEVEL = 20000,
        WARN_LEVEL = 30000,
        ERROR_LEVEL = 40000,
        FATAL_LEVEL = 50000,
        OFF_LEVEL = 60000
    };
    static LOG_LEVEL GetLevel();
    static void Log(LOG_LEVEL level, const char *text, const char *file, int line);
};

class QORLOG_API CQorLogManager {
  public:
    // -1: the configuration could not be loaded
    static int Init(const char *path);
};

#endif
