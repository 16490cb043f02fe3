// The labelling library's own log line, kept inside the library so that it
// needs nothing of the engine: "<file base name> <line> ret=<status>\n" at
// error priority under the tag "LOG_DBG" of the platform log, and the same text
// on standard output.
#ifndef KAL_LABELING_LOG_H
#define KAL_LABELING_LOG_H

namespace kal {

void logStatus(const char* file, int line, int status);

}  // namespace kal

#define KAL_LOG_STATUS(status) ::kal::logStatus(__FILE__, __LINE__, (status))

#endif  // KAL_LABELING_LOG_H
