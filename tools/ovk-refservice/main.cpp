// SPDX-License-Identifier: MIT
// ovk-refservice: the reference master-data service and its catalogue generator.

#include <unistd.h>

#include <pthread.h>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <thread>

#include "catalog.hpp"
#include "catalog_generator.hpp"
#include "command_line.hpp"
#include "soap_service.hpp"

using namespace ovk::refservice;

namespace {

int serve(const CommandLine& line) {
    const Catalog catalog = Catalog::load(line.catalog);

    // The signals are taken by sigwait on this thread; every thread started from here on
    // inherits the mask, so none of them is interrupted by them.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    SoapService service(catalog, line.service);
    service.bind();
    std::thread server([&service] { service.run(); });

    std::printf("listening on %s\n", service.url().c_str());
    std::fflush(stdout);

    // Polling is the one way that works whichever thread of the parent started us (a parent
    // death signal would follow the starting thread, not the process).
    if (line.parentPid != 0) {
        std::thread([parent = line.parentPid] {
            while (getppid() == parent) std::this_thread::sleep_for(std::chrono::milliseconds(200));
            kill(getpid(), SIGTERM);
        }).detach();
    }

    int signal = 0;
    sigwait(&signals, &signal);
    service.stop();
    // Replies under way are finished; then the process ends without joining the server's
    // workers, which may sit out a client's idle keep-alive connection for seconds and have
    // nothing left to do.
    service.waitUntilIdle(std::chrono::seconds(10));
    std::printf("most requests at once: %d\n", service.mostRequestsAtOnce());
    std::fflush(nullptr);
    std::_Exit(0);
}

int generate(const CommandLine& line) {
    const auto summary = generateCatalog(line.generator, [](std::size_t done, std::size_t total) {
        std::cerr << "\rgenerating articles: " << done << " of " << total << std::flush;
        if (done == total) std::cerr << '\n';
    });
    std::cout << "wrote " << summary.articles << " articles and " << summary.documentFiles
              << " document files (" << summary.documentBytes << " bytes) to "
              << line.generator.folder.string() << '\n';
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        const CommandLine line = parseCommandLine({argv + 1, argv + argc});
        switch (line.mode) {
            case CommandLine::Mode::Help:
                std::cout << usageText();
                return 0;
            case CommandLine::Mode::Generate:
                return generate(line);
            case CommandLine::Mode::Serve:
                return serve(line);
        }
    } catch (const std::invalid_argument& e) {
        std::cerr << "ovk-refservice: " << e.what() << '\n';
        return 2;
    } catch (const std::exception& e) {
        std::cerr << "ovk-refservice: " << e.what() << '\n';
        return 1;
    }
    return 0;
}
