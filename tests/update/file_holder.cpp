// A program that holds one file open without sharing, as a running game holds
// its own files, until it is ended: test_file_holder <path> <ready-file>.
// The ready file is written once the file is open.
#include <windows.h>

#include <cstdio>

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  HANDLE held = ::CreateFileA(argv[1], GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (held == INVALID_HANDLE_VALUE) return 1;
  FILE* ready = std::fopen(argv[2], "wb");
  if (ready == nullptr) return 1;
  std::fclose(ready);
  ::Sleep(INFINITE);
  ::CloseHandle(held);
  return 0;
}
