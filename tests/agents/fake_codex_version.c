/* An ELF stand-in for a current Codex CLI: answers "--version" as the pinned
   release does, and "login" with coloured instructions and a long tail. */
#include <stdio.h>
#include <string.h>

int main(int argc, char** argv) {
  if (argc == 2 && strcmp(argv[1], "--version") == 0) puts("codex-cli 0.160.0");
  if (argc == 2 && strcmp(argv[1], "login") == 0) {
    puts("\x1b[32mOpen https://auth.example/device\x1b[0m");
    for (int i = 0; i < 13000; ++i) putchar('x');
    putchar('\n');
  }
  return 0;
}
