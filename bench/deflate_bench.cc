// Benchmark of the DEFLATE compressor: compresses each file named on the
// command line at level 8, streaming it from disk as the archive writer
// does, and prints input MB per CPU second, the compressed/original ratio
// and the process's peak resident memory.
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

double CpuSeconds() {
  timespec ts;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
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
  for (const std::string& file : files) {
    double best = 0;
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
      double t0 = CpuSeconds();
      postrunner::DeflateResult result = postrunner::DeflateCompress(8, nullptr, pull, push);
      double seconds = CpuSeconds() - t0;
      if (!result.error.empty() || result.output_failed) {
        std::printf("%s: compressor error %s\n", file.c_str(), result.error.c_str());
        status = 1;
      }
      double speed = static_cast<double>(in_bytes) / 1e6 / seconds;
      if (speed > best) best = speed;
      in_total = in_bytes;
      out_total = result.compressed_size;
    }
    std::printf("%-40s %10llu -> %10llu  ratio %.4f  %7.2f MB/CPU-s  peak RSS %ld KiB\n",
                file.c_str(), static_cast<unsigned long long>(in_total),
                static_cast<unsigned long long>(out_total),
                in_total ? static_cast<double>(out_total) / static_cast<double>(in_total) : 0.0, best,
                PeakRssKb());
  }
  return status;
}
