#include "ErrorHandling.h"

#include <cerrno>
#include <cstring>

#include "Log.h"

namespace {

std::string getFilename(const SourceCodePos& pos) {
  const std::string buf(pos.file);
  const std::string::size_type idx = buf.find_last_of("\\/");
  if (idx == std::string::npos) {
    return buf;
  }
  return buf.substr(idx + 1);
}

void reportError(const SourceCodePos& pos, const std::string& msg) {
  Logger::defaultLogger().log(Logger::ERROR, getFilename(pos).c_str(), pos.line,
                              pos.func, msg);
}

}  // namespace

std::string makeMessage(const std::runtime_error& e, const SourceCodePos& pos) {
  return (tstrings::any() << getFilename(pos) << "(" << pos.line << ") at "
                          << pos.func << "(): " << e.what())
      .str();
}

QuernError<std::runtime_error> makeException(const tstrings::any& message,
                                             const SourceCodePos& pos) {
  const std::runtime_error err(message.str());
  return QuernError<std::runtime_error>(err, makeMessage(err, pos));
}

QuernError<std::runtime_error> makeException(const char* message,
                                             const SourceCodePos& pos) {
  return makeException(tstrings::any(message), pos);
}

void reportError(const SourceCodePos& pos, const std::runtime_error& e) {
  reportError(pos, (tstrings::any()
                    << "Exception with message '" << e.what() << "' caught")
                       .str());
}

void reportUnknownError(const SourceCodePos& pos) {
  reportError(pos, std::string("Unknown exception caught"));
}

std::string lastCRTError() { return std::strerror(errno); }

std::string callFailedMessage(const std::string& call,
                              const std::string& argument,
                              const std::string& systemText) {
  return call + "(" + argument + ") failed. Error: " + systemText;
}
