// SPDX-License-Identifier: MIT
#pragma once

#include <sys/types.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace ovk::test {

// A running ovk-refservice on a free 127.0.0.1 port, started for one test and stopped with
// it: SIGTERM when the object goes away, SIGKILL only if it does not end by itself.
class RefService {
  public:
    // Serves the sample catalogue (examples/catalog) with the extra command-line arguments;
    // when they hold their own --catalog, that one is served instead. Throws
    // std::runtime_error when the service does not come up.
    explicit RefService(std::vector<std::string> extraArgs = {});
    RefService(const std::filesystem::path& catalog, std::vector<std::string> extraArgs);
    ~RefService();
    RefService(const RefService&) = delete;
    RefService& operator=(const RefService&) = delete;

    // "http://127.0.0.1:PORT/", or https:// when served with --tls-cert
    std::string url() const { return url_; }
    int port() const { return port_; }
    pid_t pid() const { return pid_; }

    // Sends SIGTERM and waits; gives the exit status as waitpid reports it. Later calls give
    // the same status.
    int stop();
    // Stops the service and gives what it printed after its first line, up to its end.
    std::string stopAndReadOutput();

  private:
    void start(std::vector<std::string> args);

    pid_t pid_ = -1;
    int output_ =
        -1;  // the service's standard output, kept open so it never writes into a closed pipe
    std::string url_;
    int port_ = 0;
    int status_ = 0;
};

// A fixture whose tests share one reference service with the example catalogue, started
// before the suite's first test and stopped after its last.
class SharedRefServiceTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { service_ = std::make_unique<RefService>(); }
    static void TearDownTestSuite() { service_.reset(); }
    static const RefService& service() { return *service_; }

  private:
    static inline std::unique_ptr<RefService> service_;
};

// A fixture run once against a service that sends its replies as they are and once against
// one that indents them (the parameter says which), as SOAP stacks differ in this: whatever a
// user sees must be the same. Both services are shared by the suite's tests.
class PlainAndIndentedServiceTest : public ::testing::TestWithParam<bool> {
  protected:
    static void SetUpTestSuite() {
        plain_ = std::make_unique<RefService>();
        indented_ = std::make_unique<RefService>(std::vector<std::string>{"--indent"});
    }
    static void TearDownTestSuite() {
        plain_.reset();
        indented_.reset();
    }
    static bool indented() { return GetParam(); }
    static const RefService& service() { return indented() ? *indented_ : *plain_; }

  private:
    static inline std::unique_ptr<RefService> plain_, indented_;
};

}  // namespace ovk::test
