// Benchmark of the DEFLATE compressor: compresses each file named on the
// command line at level 8, streaming it from disk as the archive writer
// does, and prints input MB per CPU second and per wall second (best of the
// repeats), the compressed/original ratio and the process's peak resident
// memory.
//   deflate_bench FILE... [--repeat N]
#include <fcntl.h>
#include <sys/resource.h>
#include <time.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "deflate/deflate.h"
#include "platform/file_io.h"
#include "platform/scoped_fd.h"

namespace {

double Seconds(clockid_t clock) {
  timespec ts;
  clock_gettime(clock, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

long PeakRssKb() {
  rusage ru;
  getrusage(RUSAGE_SELF, &ru);
  return ru.ru_maxrss;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> files;
  int repeat = 1;
  for (int i = 1; i < argc; i++) {
    if (std::strcmp(argv[i], "--repeat") == 0 && i + 1 < argc) {
      repeat = std::atoi(argv[++i]);
    } else {
      files.push_back(argv[i]);
    }
  }
  if (files.empty()) {
    std::printf("usage: deflate_bench FILE... [--repeat N]\n");
    return 2;
  }
  int status = 0;
  postrunner::Deflater deflater;
  for (const std::string& file : files) {
    double best = 0, best_wall = 0;
    uint64_t in_total = 0, out_total = 0;
    for (int r = 0; r < repeat; r++) {
      postrunner::ScopedFd fd(postrunner::OpenRetry(file.c_str(), O_RDONLY));
      if (fd.get() < 0) {
        std::printf("%s: %s\n", file.c_str(), postrunner::ErrnoText(errno).c_str());
        return 1;
      }
      uint64_t in_bytes = 0;
      postrunner::DeflatePull pull = [&](unsigned char* buffer, unsigned capacity) -> long {
        ssize_t n = postrunner::ReadSome(fd.get(), buffer, capacity);
        if (n > 0) in_bytes += static_cast<uint64_t>(n);
        return n;
      };
      postrunner::DeflatePush push = [](const unsigned char*, unsigned length) -> unsigned {
        return length;
      };
      const double t0 = Seconds(CLOCK_PROCESS_CPUTIME_ID);
      const double w0 = Seconds(CLOCK_MONOTONIC);
      postrunner::DeflateResult result = deflater.Compress(8, nullptr, pull, push);
      const double seconds = Seconds(CLOCK_PROCESS_CPUTIME_ID) - t0;
      const double wall = Seconds(CLOCK_MONOTONIC) - w0;
      if (!result.error.empty() || result.output_failed) {
        std::printf("%s: compressor error %s\n", file.c_str(), result.error.c_str());
        status = 1;
      }
      double speed = static_cast<double>(in_bytes) / 1e6 / seconds;
      if (speed > best) best = speed;
      const double wall_speed = static_cast<double>(in_bytes) / 1e6 / wall;
      if (wall_speed > best_wall) best_wall = wall_speed;
      in_total = in_bytes;
      out_total = result.compressed_size;
    }
    std::printf("%-40s %10llu -> %10llu  ratio %.4f  %7.2f MB/CPU-s  %7.2f MB/wall-s  "
                "peak RSS %ld KiB\n",
                file.c_str(), static_cast<unsigned long long>(in_total),
                static_cast<unsigned long long>(out_total),
                in_total ? static_cast<double>(out_total) / static_cast<double>(in_total) : 0.0,
                best, best_wall, PeakRssKb());
  }
  return status;
}
