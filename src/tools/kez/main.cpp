#include <cstdio>

int main(int argc, char** argv) {
  (void)argc;
  (void)argv;
  std::fprintf(stderr, "kez: no commands yet\n");
  return 2;
}
