// The web tests run in an OLE single-threaded apartment, as the launcher's
// GUI thread does.
#include <windows.h>
#include <ole2.h>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  if (FAILED(::OleInitialize(nullptr))) return 2;
  const int result = RUN_ALL_TESTS();
  ::OleUninitialize();
  return result;
}
