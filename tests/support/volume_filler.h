// Another program filling a volume while the code under test writes to it:
// once a watched file has grown past a size, a filler file takes every byte
// the volume has left, so that the next write of the watched file fails for
// lack of room. Windows.
#pragma once

#include <cstdint>
#include <string>
#include <thread>

namespace testing_files {

class VolumeFiller {
 public:
  // Starts watching `watched`; gives up after 30 s without it growing past `grownPast`.
  VolumeFiller(std::string watched, std::uint64_t grownPast, std::string filler);
  ~VolumeFiller();  // waits for the filling to end (the filler file stays)
  VolumeFiller(const VolumeFiller&) = delete;
  VolumeFiller& operator=(const VolumeFiller&) = delete;

  void Join();

 private:
  std::thread thread_;
};

}  // namespace testing_files
