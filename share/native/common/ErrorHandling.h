// The launcher's one exception type and the functions that build and report
// it.
//
// Every failure the launcher detects is thrown as the QuernError that
// makeException returns for the bare message and the throw site's position;
// QUERN_THROW does exactly that in one line. what() gives
// "<file>(<line>) at <function>(): <message>", rawMessage() the bare message.

#ifndef ERRORHANDLING_H
#define ERRORHANDLING_H

#include <stdexcept>
#include <string>

#include "tstrings.h"

// Position of a throw or report site. The strings are literals of the site
// and are not owned; only the base name of `file` is ever printed.
struct SourceCodePos {
  SourceCodePos(const char* fl, const char* fnc, int ln)
      : file(fl), func(fnc), line(ln) {}

  const char* file;
  const char* func;
  int line;
};

#define QUERN_SOURCE_POS SourceCodePos(__FILE__, __FUNCTION__, __LINE__)

class QuernErrorBase {
 public:
  virtual const char* rawMessage() const = 0;

 protected:
  ~QuernErrorBase() {}
};

template <class Base>
class QuernError : public QuernErrorBase, public Base {
 public:
  QuernError(const Base& e, const std::string& msg) : Base(e), msg(msg) {}

  const char* rawMessage() const override { return Base::what(); }
  const char* what() const noexcept override { return msg.c_str(); }

 private:
  std::string msg;
};

QuernError<std::runtime_error> makeException(const tstrings::any& message,
                                             const SourceCodePos& pos);
QuernError<std::runtime_error> makeException(const char* message,
                                             const SourceCodePos& pos);

// "<file base name>(<line>) at <func>(): <error.what()>"
std::string makeMessage(const std::runtime_error& e, const SourceCodePos& pos);

// Each logs one ERROR event on the default logger, positioned at `pos`.
void reportError(const SourceCodePos& pos, const std::runtime_error& e);
void reportUnknownError(const SourceCodePos& pos);

// The system's text for the current errno. Only reads errno.
std::string lastCRTError();

// "<call>(<argument>) failed. Error: <systemText>", the message of every
// failed system call; `argument` is empty for a call without one. Throw
// sites pass it to QUERN_THROW, so the report keeps their own position.
std::string callFailedMessage(const std::string& call,
                              const std::string& argument,
                              const std::string& systemText);

// Throws the QuernError for a message composed with tstrings::any, for
// example: QUERN_THROW("Error opening \"" << path << "\" file");
#define QUERN_THROW(msg) \
  throw makeException((tstrings::any() << msg), QUERN_SOURCE_POS)

// The same with an explicit function name, for sites where the compiler's
// spelling of the function differs from the one users see.
#define QUERN_THROW_AT(func, msg)               \
  throw makeException((tstrings::any() << msg), \
                      SourceCodePos(__FILE__, func, __LINE__))

#endif  // ERRORHANDLING_H
