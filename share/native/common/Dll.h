// An opened dynamic library, and one function resolved from it.
//
// A Dll owns its loader handle and closes it when destroyed; a copy opens the
// same path again. A DllFunction keeps its own copy of the library, so the
// Dll it was made from may go away at once. Failures carry the loader's own
// error text.

#ifndef DLL_H
#define DLL_H

#include <string>

#include "ErrorHandling.h"
#include "tstrings.h"

class Dll {
 public:
  typedef void* Handle;

  // Throws when the library cannot be opened.
  explicit Dll(const tstrings::any& libPath);
  Dll(const Dll& other);
  ~Dll();

  // Address of `name`, or null when it is missing and `throwIfNotFound` is
  // false; throws when it is missing and the flag is set.
  void* getFunction(const std::string& name, bool throwIfNotFound) const;

  template <class T>
  void getFunction(const tstrings::any& name, T& addr) const {
    addr = reinterpret_cast<T>(getFunction(name.str(), true));
  }

  const std::string& getPath() const { return path; }

  // Closes `h`; null is ignored.
  static void freeLibrary(Handle h);

 private:
  Dll& operator=(const Dll&) = delete;

  const std::string path;
  Handle libHandle;
};

template <class T>
class DllFunction {
 public:
  // Throws when the library cannot be opened again or has no such symbol.
  DllFunction(const Dll& library, const tstrings::any& funcName)
      : library(library), name(funcName.str()) {
    this->library.getFunction(funcName, address);
  }

  operator T() const {
    if (!address) {
      QUERN_THROW_AT(
          "operator void *",
          name << "() function is not available in " << library.getPath());
    }
    return address;
  }

 private:
  DllFunction& operator=(const DllFunction&) = delete;

  const Dll library;
  T address;
  const std::string name;
};

#endif  // DLL_H
