// Allocation failures injected into each module entry point: the entry
// ends in its own failure result with a reason on standard error, and
// never in std::terminate. This binary replaces the global operator new, so
// it is a test executable of its own.
#include <stdlib.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "ftp/ftp_upload.h"
#include "join/join.h"
#include "registry/registry.h"
#include "test_support/temp_dir.h"

namespace {

// Counts down the allocations of the code under test; the one that brings
// it to zero throws std::bad_alloc. Negative: no failure armed.
std::atomic<long> g_allocations_left{-1};
std::atomic<bool> g_fired{false};

void* Allocate(std::size_t size) {
  if (g_allocations_left.load() >= 0 && g_allocations_left.fetch_sub(1) == 0) {
    g_fired = true;
    throw std::bad_alloc();
  }
  void* p = std::malloc(size == 0 ? 1 : size);
  if (p == nullptr) throw std::bad_alloc();
  return p;
}

}  // namespace

void* operator new(std::size_t size) { return Allocate(size); }
void* operator new[](std::size_t size) { return Allocate(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }

namespace postrunner {
namespace {

// Runs `entry` with its `n`th allocation failing; returns whether that
// allocation was reached, with what the entry wrote to standard error.
template <typename Entry>
bool RunFailingAt(long n, Entry&& entry, std::string* errors) {
  testing::internal::CaptureStderr();
  g_fired = false;
  g_allocations_left = n;
  entry();
  g_allocations_left = -1;
  *errors = testing::internal::GetCapturedStderr();
  return g_fired;
}

constexpr long kMaxSteps = 4000;

TEST(EntryFailure, JoinEndsWithItsFailureCode) {
  TempDir dir("pr_entry_join");
  const std::string mailbox =
      dir.Write("inbox", "From a@example.org Mon Jan  1 00:00:00 2024\n"
                         "Subject: piece\nContent-Type: message/partial; id=\"p@x\"; "
                         "number=2; total=2\n\nbody\n");
  long n = 0;
  for (std::string errors; n < kMaxSteps; ++n) {
    int code = 0;
    if (!RunFailingAt(n, [&] { code = RunJoin(mailbox, dir.path()); }, &errors)) break;
    SCOPED_TRACE("allocation " + std::to_string(n));
    EXPECT_TRUE(code == kJoinUnreadable || code == kJoinFailed) << code;
    EXPECT_NE(errors.find("postrunner: "), std::string::npos);
  }
  EXPECT_GT(n, 0);
  EXPECT_LT(n, kMaxSteps);
}

TEST(EntryFailure, FtpUploadIsAFailedDelivery) {
  TempDir dir("pr_entry_ftp");
  const std::string file = dir.Write("data.txt", "data");
  long n = 0;
  for (std::string errors; n < kMaxSteps; ++n) {
    BOOL sent = TRUE;
    // Port 1 on loopback: nothing listens, so a run that gets through fails too.
    if (!RunFailingAt(n, [&] {
          sent = SendFileByFtp(file, "127.0.0.1:1", "user", "secret", "", TRUE, FtpSecurity{});
        }, &errors)) {
      break;
    }
    SCOPED_TRACE("allocation " + std::to_string(n));
    EXPECT_EQ(sent, FALSE);
    EXPECT_NE(errors.find("postrunner: "), std::string::npos);
    EXPECT_EQ(errors.find("secret"), std::string::npos);
  }
  EXPECT_GT(n, 0);
  EXPECT_LT(n, kMaxSteps);
}

TEST(EntryFailure, RegistryReadGivesTheDefaultAndRecovers) {
  TempDir dir("pr_entry_registry");
  const std::string file = dir.Write(
      "user.reg", "Windows Registry Editor Version 5.00\n\n"
                  "[HKEY_CURRENT_USER\\Software\\Veltrona\\Dropcart]\n\"Sender\"=\"me@example.org\"\n");
  ::setenv("POSTRUNNER_USER_REGISTRY", file.c_str(), 1);
  ::setenv("POSTRUNNER_MACHINE_REGISTRY", "", 1);
  const std::string key = "Software\\Veltrona\\Dropcart";
  long n = 0;
  for (std::string errors; n < kMaxSteps; ++n) {
    std::string value;
    if (!RunFailingAt(n, [&] {
          value = RegReadString(key, "Sender", "fallback", HKEY_CURRENT_USER);
        }, &errors)) {
      break;
    }
    SCOPED_TRACE("allocation " + std::to_string(n));
    EXPECT_EQ(value, "fallback");
    EXPECT_NE(errors.find("postrunner: not enough memory to read the registry"),
              std::string::npos);
    // The failed read leaves nothing half-loaded behind.
    EXPECT_EQ(RegReadString(key, "Sender", "fallback", HKEY_CURRENT_USER), "me@example.org");
  }
  EXPECT_GT(n, 0);
  EXPECT_LT(n, kMaxSteps);
}

}  // namespace
}  // namespace postrunner
