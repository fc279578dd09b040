// Logs the lines given as arguments and ends; the log is written beside the program.
#include "platform/DebugLog.h"

int main(int argc, char** argv) {
  palkor::DebugLog().SetWriteAtEnd(true);
  for (int i = 1; i < argc; ++i) palkor::Log(argv[i]);
  return 0;
}
