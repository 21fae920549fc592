// SPDX-License-Identifier: MIT
// The baseline of the end-to-end download benchmark: the same GetItemData requests the
// component sends for a download, posted by a bare libcurl client over one reused connection,
// each reply read to its end and dropped. What is left of a download's time beyond this is
// the component's own work (parsing, copying, writing files).
//
// Usage: bare_item_fetch --endpoint URL --project ID --password P --lang N --ids FILE
// FILE holds one article identifier per line. Prints "seconds S bytes B calls N cpu C
// largest L" (C: the processor time this process used, in seconds; L: the largest reply's
// bytes).

#include <curl/curl.h>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "soap/envelope.hpp"
#include "soap/service_description.hpp"

namespace {

size_t count(char*, size_t size, size_t items, void* received) {
    *static_cast<std::size_t*>(received) += size * items;
    return size * items;
}

}  // namespace

int main(int argc, char** argv) {
    std::string endpoint, project, password, idsFile;
    int16_t lang = 1033;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        const std::string value = argv[i + 1];
        if (option == "--endpoint") endpoint = value;
        if (option == "--project") project = value;
        if (option == "--password") password = value;
        if (option == "--lang") lang = static_cast<int16_t>(std::stoi(value));
        if (option == "--ids") idsFile = value;
    }
    if (endpoint.empty() || idsFile.empty()) {
        std::cerr << "usage: bare_item_fetch --endpoint URL --project ID --password P --lang N "
                     "--ids FILE\n";
        return 2;
    }
    try {
        std::vector<std::string> ids;
        std::ifstream in(idsFile);
        for (std::string line; std::getline(in, line);)
            if (!line.empty()) ids.push_back(line);

        const auto description =
            ovk::soap::ServiceDescription::load(OVK_DATA_DIR "/VelmoraSvr.wsdl");
        const auto* operation = description.find("GetItemData");
        if (operation == nullptr) throw std::runtime_error("no GetItemData in the description");
        std::vector<std::string> requests;
        requests.reserve(ids.size());
        for (const std::string& id : ids) {
            requests.push_back(
                ovk::soap::buildRequestEnvelope(*operation, {password, project, lang, id}));
        }

        curl_global_init(CURL_GLOBAL_DEFAULT);
        CURL* easy = curl_easy_init();
        curl_slist* headers = nullptr;
        headers = curl_slist_append(headers, "Content-Type: text/xml; charset=utf-8");
        headers =
            curl_slist_append(headers, ("SOAPAction: \"" + operation->soapAction + "\"").c_str());
        headers = curl_slist_append(headers, "Expect:");
        std::size_t received = 0;
        curl_easy_setopt(easy, CURLOPT_URL, endpoint.c_str());
        curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headers);
        curl_easy_setopt(easy, CURLOPT_TCP_NODELAY, 1L);
        curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(easy, CURLOPT_PROXY, "");
        curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &count);
        curl_easy_setopt(easy, CURLOPT_WRITEDATA, &received);

        std::size_t largest = 0;
        const auto start = std::chrono::steady_clock::now();
        for (const std::string& request : requests) {
            const std::size_t before = received;
            curl_easy_setopt(easy, CURLOPT_POSTFIELDS, request.c_str());
            curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE, static_cast<long>(request.size()));
            const CURLcode code = curl_easy_perform(easy);
            long status = 0;
            curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
            if (code != CURLE_OK || status != 200) {
                throw std::runtime_error(std::string("call failed: ") + curl_easy_strerror(code) +
                                         " status " + std::to_string(status));
            }
            largest = std::max(largest, received - before);
        }
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        curl_easy_cleanup(easy);
        curl_slist_free_all(headers);
        struct rusage usage {};
        ::getrusage(RUSAGE_SELF, &usage);
        const double cpu =
            static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
            static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
        std::printf("seconds %.3f bytes %zu calls %zu cpu %.3f largest %zu\n", seconds, received,
                    requests.size(), cpu, largest);
        return 0;
    } catch (const std::exception& e) {
        std::cerr << "bare_item_fetch: " << e.what() << "\n";
        return 1;
    }
}
