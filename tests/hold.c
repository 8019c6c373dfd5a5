// A Windows program that holds a file open as a viewer or an indexer may, letting others read it but not write it,
// for a minute: it says "held" on standard output once it does.
#include <stdio.h>
#include <windows.h>

int main(int argc, char **argv)
{
  if (CreateFileA(argv[1], GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL) == INVALID_HANDLE_VALUE)
    return 1;
  puts("held");
  fflush(stdout);
  Sleep(60000);
  return 0;
}
