/* The least any launcher must do to start an application: open the
 * runtime's launcher library, find its entry point and call it once with a
 * small fixed argument vector. Its start-up cost is the floor against which
 * the launcher's own start-up is measured.
 *
 *   launch_floor <path of libzli.dylib>
 *
 * Exits with the entry point's status, or 2 when the library or the entry
 * point cannot be found.
 */

#include <dlfcn.h>
#include <stdio.h>
#include <string.h>

#include "ZvmLauncherLib.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    fputs("usage: launch_floor <runtime library>\n", stderr);
    return 2;
  }
  void* library = dlopen(argv[1], RTLD_LAZY);
  if (!library) {
    fprintf(stderr, "%s\n", dlerror());
    return 2;
  }
  void* entry = dlsym(library, "ZLI_Launch");
  if (!entry) {
    fprintf(stderr, "%s\n", dlerror());
    return 2;
  }
  ZliLaunchFunc launch;
  memcpy(&launch, &entry, sizeof launch);

  static char program[] = "floor";
  static char appPath[] = "-Dquern.app-path=/floor";
  static char mainClass[] = "Main";
  char* vector[] = {program, appPath, mainClass, NULL};
  return launch(3, vector, 0, NULL, 0, NULL, "", "", "zeal", "zeal", 0, 0, 0,
                0);
}
