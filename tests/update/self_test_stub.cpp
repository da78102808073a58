// Executables that fail a launcher's self-test, published in place of a
// launcher: test_self_test_silent exits 0 and writes nothing;
// test_self_test_crash dies of an access violation.
#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
#ifdef SELF_TEST_CRASH
  volatile int* nowhere = nullptr;
  *nowhere = 1;
#endif
  return 0;
}
