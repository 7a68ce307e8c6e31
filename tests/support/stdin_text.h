// Standard input for the code under test, from a text.
#pragma once

#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <string>
#if defined(_WIN32)
#include <process.h>
#else
#include <unistd.h>
#endif

namespace vok::test {

class stdin_text {
 public:
  explicit stdin_text(const std::string &text) {
    // Named by the process and the test, so that test programs run side by side (also those
    // of other builds) never share a file.
    const auto *test = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name =
        test != nullptr ? std::string(test->test_suite_name()) + "." + test->name() : "";
    for (char &c : name) {
      if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
    }
#if defined(_WIN32)
    const int process = _getpid();
#else
    const int process = static_cast<int>(getpid());
#endif
    path_ = ::testing::TempDir() + "vok-stdin-" + std::to_string(process) + "-" + name + "-" +
            std::to_string(counter()++);
    std::FILE *f = std::fopen(path_.c_str(), "wb");
    std::fwrite(text.data(), 1, text.size(), f);
    std::fclose(f);
    EXPECT_NE(std::freopen(path_.c_str(), "rb", stdin), nullptr);
  }
  ~stdin_text() {
#if defined(_WIN32)
    EXPECT_NE(std::freopen("NUL", "rb", stdin), nullptr);
#else
    EXPECT_NE(std::freopen("/dev/null", "rb", stdin), nullptr);
#endif
    std::remove(path_.c_str());
  }

 private:
  static int &counter() {
    static int n = 0;
    return n;
  }
  std::string path_;
};

}  // namespace vok::test
