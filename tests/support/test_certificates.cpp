// SPDX-License-Identifier: MIT
#include "test_certificates.hpp"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

extern char** environ;

namespace ovk::test {
namespace {

constexpr const char* kOpenSsl = "/usr/bin/openssl";

// Runs openssl with `args` (no shell), its output into `log`.
void openssl(const TempDir& dir, std::vector<std::string> args) {
    const std::string log = (dir / "openssl.log").string();
    args.insert(args.begin(), kOpenSsl);
    std::vector<char*> argv;
    for (auto& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, log.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    posix_spawn_file_actions_addchdir_np(&actions, dir.path().c_str());
    pid_t pid = -1;
    const int spawned = posix_spawn(&pid, kOpenSsl, &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) throw std::runtime_error(std::string("cannot start ") + kOpenSsl);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::string command;
        for (const auto& arg : args) command += arg + ' ';
        throw std::runtime_error(command + "failed: " + readAll(log));
    }
}

void makeAuthority(const TempDir& dir, const std::string& name, const std::string& subject) {
    openssl(dir, {"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes",
                  "-keyout", name + ".key", "-out", name + ".pem", "-days", "2", "-subj", subject});
}

void makeServer(const TempDir& dir, const std::string& name, const std::string& authority,
                const std::string& names, const std::string& days, const std::string& serial) {
    const std::string extensions = name + ".ext";
    dir.write(extensions, "subjectAltName=" + names + "\nextendedKeyUsage=serverAuth\n");
    openssl(dir, {"req", "-new", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes",
                  "-keyout", name + ".key", "-out", name + ".csr", "-subj", "/CN=" + name});
    // A negative number of days puts the end of validity before its start: expired at once.
    openssl(dir, {"x509", "-req", "-in", name + ".csr", "-CA", authority + ".pem", "-CAkey",
                  authority + ".key", "-set_serial", serial, "-days", days, "-extfile", extensions,
                  "-out", name + ".pem"});
}

}  // namespace

std::vector<std::string> TestCertificates::Server::serveArgs() const {
    return {"--tls-cert", certificate.string(), "--tls-key", key.string()};
}

TestCertificates::TestCertificates() {
    makeAuthority(dir_, "authority", "/O=ovk tests/CN=ovk test authority");
    makeAuthority(dir_, "rogue", "/O=nobody/CN=untrusted authority");
    const std::string loopbackNames = "DNS:localhost,IP:127.0.0.1";
    makeServer(dir_, "loopback", "authority", loopbackNames, "2", "101");
    makeServer(dir_, "other-name", "authority", "DNS:service.invalid", "2", "102");
    makeServer(dir_, "expired", "authority", loopbackNames, "-1", "103");
    makeServer(dir_, "untrusted", "rogue", loopbackNames, "2", "104");
    openssl(dir_, {"x509", "-in", "authority.pem", "-outform", "DER", "-out", "authority.der"});
}

}  // namespace ovk::test
