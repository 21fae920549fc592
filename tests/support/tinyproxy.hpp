// SPDX-License-Identifier: MIT
#pragma once

// Debian's tinyproxy, started in the foreground on a free loopback port for a test and stopped
// with it.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

#include "temp_dir.hpp"

extern char** environ;

namespace ovk::test {

inline constexpr const char* kTinyproxy = "/usr/bin/tinyproxy";

inline int freeLoopbackPort() {
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t length = sizeof address;
    ::getsockname(s, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(s);
    return ntohs(address.sin_port);
}

inline bool acceptsConnections(int port) {
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(port));
    const bool ok = ::connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(s);
    return ok;
}

// Debian's tinyproxy in the foreground on a free loopback port, optionally demanding basic
// credentials.
class Tinyproxy {
  public:
    Tinyproxy(const TempDir& dir, const std::string& basicAuth) {
        port_ = freeLoopbackPort();
        std::string config =
            "Port " + std::to_string(port_) +
            "\nListen 127.0.0.1\nAllow 127.0.0.1\nTimeout 30\nMaxClients 8\nLogLevel Critical\n";
        if (!basicAuth.empty()) config += "BasicAuth " + basicAuth + "\n";
        const std::string path = dir.write("tinyproxy.conf", config).string();
        const char* argv[] = {kTinyproxy, "-d", "-c", path.c_str(), nullptr};
        if (posix_spawn(&pid_, kTinyproxy, nullptr, nullptr, const_cast<char**>(argv), environ) !=
            0)
            pid_ = -1;
        for (int i = 0; pid_ > 0 && i < 500 && !acceptsConnections(port_); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    ~Tinyproxy() {
        if (pid_ <= 0) return;
        ::kill(pid_, SIGTERM);
        // tinyproxy lets its connections finish before it goes; a test must not wait for a
        // connection its client still holds open.
        for (int i = 0; i < 200; ++i) {
            if (::waitpid(pid_, nullptr, WNOHANG) == pid_) return;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
    bool running() const { return pid_ > 0 && acceptsConnections(port_); }
    std::string hostPort() const { return "127.0.0.1:" + std::to_string(port_); }

  private:
    pid_t pid_ = -1;
    int port_ = 0;
};

}  // namespace ovk::test
