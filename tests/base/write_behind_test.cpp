// The write-behind thread flushes the handle it is handed, one at a time,
// and holds no handle of the writer's file once it has settled. A pipe makes
// the flush visible: a pipe's flush returns only when its reader has read
// everything written to it.
#include "base/write_behind.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>

#include "base/guards.h"
#include "base/thread.h"

namespace {

struct SettleCall {
  base::WriteBehind* behind;
  std::atomic<bool> returned{false};
};

unsigned __stdcall SettleOnce(void* argument) {
  auto* call = static_cast<SettleCall*>(argument);
  call->behind->Settle();
  call->returned = true;
  return 0;
}

TEST(WriteBehind, FlushesTheHandedFileOnItsThreadAndThenLetsItGo) {
  const char* name = "\\\\.\\pipe\\launcher-write-behind-test";
  base::UniqueHandle writer(::CreateNamedPipeA(name, PIPE_ACCESS_OUTBOUND, PIPE_TYPE_BYTE | PIPE_WAIT, 1, 4096, 4096, 0,
                                               nullptr));
  ASSERT_TRUE(writer.Valid());
  base::UniqueHandle reader(::CreateFileA(name, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(reader.Valid());
  DWORD done = 0;
  ASSERT_TRUE(::WriteFile(writer.Get(), "pack", 4, &done, nullptr) && done == 4);

  base::WriteBehind behind;
  ASSERT_TRUE(behind.Hand(writer.Get()));
  EXPECT_FALSE(behind.Hand(writer.Get()));  // one flush at a time

  // The flush waits for the reader, and so does whoever settles.
  SettleCall call{&behind};
  base::Thread settler;
  ASSERT_TRUE(settler.Start(&SettleOnce, &call));
  EXPECT_FALSE(settler.Join(300));
  EXPECT_FALSE(call.returned);
  char got[4] = {};
  ASSERT_TRUE(::ReadFile(reader.Get(), got, sizeof got, &done, nullptr) && done == 4);
  EXPECT_TRUE(settler.Join(10000));
  EXPECT_TRUE(call.returned);

  // Settled, it holds no duplicate: the writer's own close breaks the pipe.
  EXPECT_TRUE(behind.Hand(writer.Get()));
  behind.Settle();
  writer.Reset();
  DWORD available = 0;
  EXPECT_FALSE(::PeekNamedPipe(reader.Get(), nullptr, 0, nullptr, &available, nullptr));
  EXPECT_EQ(static_cast<DWORD>(ERROR_BROKEN_PIPE), ::GetLastError());
}

}  // namespace
