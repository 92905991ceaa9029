#include <cstdio>
int main() {
  std::puts("ornbbs: not yet");
  return 0;
}
