#include "app.h"

#include <iostream>
#include <memory>

#include "ErrorAlert.h"
#include "ErrorHandling.h"
#include "FileUtils.h"
#include "Log.h"
#include "SysInfo.h"
#include "SystemLog.h"

namespace {

// The text of the error being reported; non-null only inside the handlers
// of app::launch.
const std::string* theLastErrorMsg = nullptr;

class StandardLogAppender : public LogAppender {
 public:
  void append(const LogEvent& v) override {
    std::cerr << "[" << v.logLevel << "] " << v.fileName << ":" << v.lineNum
              << ": " << v.message << std::endl;
  }
};

// Created before main and never destroyed: a pass still running on another
// thread while the process exits must not reach destroyed appenders.
NopLogAppender* const nopLogAppender = new NopLogAppender();
StandardLogAppender* const standardLogAppender = new StandardLogAppender();

// Shows the error alert when the bundle asks for it. An alert that cannot be
// shown changes nothing else; with diagnostics on, one line says why. That
// line goes straight to the standard appender: this runs inside the logger's
// own call, which would come back here.
void showErrorAlert(const std::string& line) {
  const char* const name = SystemLog::applicationName();
  const std::string whyNot = ErrorAlert::show(name ? name : "", line);
  if (!whyNot.empty() && app::isWithLogging()) {
    LogEvent event;
    event.logLevel = "WARNING";
    event.fileName = FileUtils::basename(__FILE__);
    event.lineNum = __LINE__;
    event.funcName = "showErrorAlert";
    event.message = "No error alert shown: " + whyNot;
    standardLogAppender->append(event);
  }
}

// The one line a user sees without diagnostics. It also goes to the system
// log, for the user who opened the application where standard error goes
// nowhere, and then, when the bundle asks for it, into an alert.
class LastErrorLogAppender : public LogAppender {
 public:
  void append(const LogEvent&) override {
    const std::string line = app::lastErrorMessage();
    std::cerr << line << std::endl;
    SystemLog::error(line);
    if (ErrorAlert::isWanted()) {
      showErrorAlert(line);
    }
  }
};

LastErrorLogAppender* const lastErrorLogAppender = new LastErrorLogAppender();

// Adds the extra appender once the work function has ended, so that the
// report of its failure reaches both the chosen appender and the extra one.
class SetLoggerAtEndOfScope {
 public:
  SetLoggerAtEndOfScope(std::unique_ptr<WithExtraLogAppender>& withLogAppender,
                        LogAppender* lastErrorLogAppender)
      : withLogAppender(withLogAppender),
        lastErrorLogAppender(lastErrorLogAppender) {}

  ~SetLoggerAtEndOfScope() {
    try {
      std::unique_ptr<WithExtraLogAppender> installed(
          new WithExtraLogAppender(*lastErrorLogAppender));
      withLogAppender = std::move(installed);
    } catch (const std::runtime_error& e) {
      reportError(SourceCodePos(__FILE__, "~SetLoggerAtEndOfScope", __LINE__),
                  e);
    } catch (...) {
      reportUnknownError(
          SourceCodePos(__FILE__, "~SetLoggerAtEndOfScope", __LINE__));
    }
  }

 private:
  std::unique_ptr<WithExtraLogAppender>& withLogAppender;
  LogAppender* lastErrorLogAppender;
};

// Clears theLastErrorMsg first on every way out of app::launch.
struct ResetLastErrorMsg {
  ~ResetLastErrorMsg() { theLastErrorMsg = nullptr; }
};

}  // namespace

namespace app {

std::string lastErrorMessage() {
  return theLastErrorMsg ? *theLastErrorMsg : std::string();
}

bool isWithLogging() {
  return SysInfo::getEnvVariable(std::nothrow, "QUERN_DEBUG", "") == "true";
}

int launch(const std::nothrow_t&, LauncherFunc func,
           LogAppender* lastErrorLogAppender) {
  if (isWithLogging()) {
    Logger::defaultLogger().setAppender(standardLogAppender);
  } else {
    Logger::defaultLogger().setAppender(nopLogAppender);
  }

  // Destroyed in reverse order: the message pointer is cleared, the message
  // released, the extra appender removed, and only then the tracer's exit
  // event is logged.
  const Logger::ScopeTracer tracer(Logger::defaultLogger(), Logger::TRACE,
                                   __FILE__, __LINE__, "launch", "launch");
  std::unique_ptr<WithExtraLogAppender> withLogAppender;
  std::string errorMsg;
  const ResetLastErrorMsg resetLastErrorMsg;
  if (!lastErrorLogAppender) {
    lastErrorLogAppender = ::lastErrorLogAppender;
  }

  try {
    SetLoggerAtEndOfScope setLogger(withLogAppender, lastErrorLogAppender);
    func();
    return 0;
  } catch (const QuernErrorBase& e) {
    errorMsg = (tstrings::any() << e.rawMessage()).str();
    theLastErrorMsg = &errorMsg;
    try {
      throw;
    } catch (const std::runtime_error& re) {
      reportError(SourceCodePos(__FILE__, "launch", __LINE__), re);
    } catch (...) {
      reportUnknownError(SourceCodePos(__FILE__, "launch", __LINE__));
    }
  } catch (const std::runtime_error& e) {
    // A failure from outside the launcher's own code prints the system's
    // text for it, the one line users and scripts read; its exception text
    // differs between C++ libraries and goes to the diagnostics only.
    errorMsg = lastCRTError();
    theLastErrorMsg = &errorMsg;
    reportError(SourceCodePos(__FILE__, "launch", __LINE__), e);
  } catch (...) {
    errorMsg = "Unknown error";
    theLastErrorMsg = &errorMsg;
    reportUnknownError(SourceCodePos(__FILE__, "launch", __LINE__));
  }
  return 1;
}

}  // namespace app
