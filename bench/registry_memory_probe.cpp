// The program's own copy run, on its real back-ends, up to its installer-value lookups: the
// registry export named by VELMORA_MACHINE_REG points at a CD and at a destination already
// copied, so the run reads SetupDir and SystemDir through FileRegistry, checks the CD and stops.
// scripts/measure-registry-memory.sh measures its peak memory on exports of different sizes.
#include <cstdio>

#include "app/copy_application.h"
#include "copy/messages.h"

int main() {
  velmora::CopyApplication program;
  velmora::CopyProcedure& procedure = program.procedure;
  procedure.RunCopy();
  std::printf("source %s\ndestination %s\n", procedure.SourceRoot.c_str(),
              procedure.InstallRoot.c_str());
  if (procedure.ResultMessage != velmora::messages::kAlreadyCopied) {
    std::fprintf(stderr, "the run did not stop at the copied destination: %s\n",
                 procedure.ResultMessage.c_str());
    return 1;
  }
  return 0;
}
