// msitable DATABASE TABLE: prints one table of an installer database.
#include <signal.h>
#include <unistd.h>

#include "console.h"
#include "table_dump.h"

int main(int argc, char** argv) {
  // A reader that goes away early (| head) ends the run through a failed
  // write, not through a signal.
  ::signal(SIGPIPE, SIG_IGN);
  msitable::Output out(STDOUT_FILENO);
  if (argc != 3) {
    out.Write(
        "run the application with argumnets <application name> <Msidatabase(with full path)> "
        "<table name in MSI database>");
    out.EndLine();
    msitable::WaitForKey();
    return 1;
  }
  int status = msitable::DumpTable(argv[1], argv[2], out);
  out.Flush();
  return out.ok() ? status : 1;
}
