#include <cstdio>

int main() {
  std::puts("Glimmet " GLIMMET_VERSION);
  return 0;
}
