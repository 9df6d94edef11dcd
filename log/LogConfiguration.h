// The one step that points the log library at its configuration, taken as each player object
// is made.
#ifndef KESTRAVA_LOG_LOGCONFIGURATION_H
#define KESTRAVA_LOG_LOGCONFIGURATION_H

namespace kestrava {

// Loads "log.properties" into the log library, then tries the Windows system directory when
// that fails. Never fails and reports nothing: the component works without a log.
void configureLog() noexcept;

} // namespace kestrava

#endif
