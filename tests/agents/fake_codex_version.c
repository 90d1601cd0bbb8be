/* An ELF stand-in for a current Codex CLI: answers "--version" as the pinned release does. */
#include <stdio.h>
#include <string.h>

int main(int argc, char** argv) {
  if (argc == 2 && strcmp(argv[1], "--version") == 0) puts("codex-cli 0.160.0");
  return 0;
}
