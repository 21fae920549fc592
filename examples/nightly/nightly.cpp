// SPDX-License-Identifier: MIT
// A nightly download without a user: every article below the given tree nodes (the whole tree
// when none is given) goes into the download document, with no window and no question asked.
// A host that runs from cron or a build server looks like this.
//
//   nightly DOWNLOAD_FILE [NODE_KEY ...]
//
// Exit status: 0 when the download completed, 1 when it did not, 2 for a usage error.

#include <ovk/client.hpp>
#include <ovk/error.hpp>

#include <cstdint>
#include <iostream>
#include <string>
#include <vector>

namespace {

class NightlyEvents : public ovk::ClientEvents, public ovk::DownloadProgressEvents {
  public:
    bool complete = false;

    void Exception(int32_t Number, const std::string& Message, const std::string& Source) override {
        // Number 0 names the leaf whose articles are read; everything else is a failure.
        if (Number != 0)
            std::cerr << "error " << Number << " (" << Source << "): " << Message << "\n";
    }
    void DownloadComplete() override { complete = true; }
    void DownloadProgress(int32_t Done, int32_t Total) override {
        std::cout << "\r" << Done << "/" << Total << " articles" << (Done == Total ? "\n" : "")
                  << std::flush;
    }
    int32_t MessageBox(const ovk::MessageBoxRequest& Box) override {
        std::cerr << Box.Title << ": " << Box.Text << "\n";
        return 0;  // nobody to ask: the default button
    }
};

void collectLeaf(ovk::Client& client, const std::string& key, std::vector<std::string>& ids) {
    for (const ovk::Article& article : client.LeafArticles(key).Articles) ids.push_back(article.Id);
}

// Collects the articles below a node, one level of the tree at a time: a tree of a million
// nodes is never handed out whole.
void collect(ovk::Client& client, const ovk::TreeNode& node, std::vector<std::string>& ids) {
    if (node.ChildCount == 0) return collectLeaf(client, node.Key, ids);
    for (const ovk::TreeNode& child : client.TreeNodes(node.Key)) collect(client, child, ids);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::cerr << "usage: " << argv[0] << " DOWNLOAD_FILE [NODE_KEY ...]\n";
        return 2;
    }
    NightlyEvents events;
    ovk::Client client;
    client.setEvents(&events);
    client.Unattended(true);
    const int32_t init = client.Init(argv[1]);
    if (init != 0) {
        std::cerr << "Init gave " << init << "\n";
        return 1;
    }
    try {
        std::vector<std::string> ids;
        for (int i = 2; i < argc; ++i) {
            const std::vector<ovk::TreeNode> below = client.TreeNodes(argv[i]);
            if (below.empty()) collectLeaf(client, argv[i], ids);
            for (const ovk::TreeNode& node : below) collect(client, node, ids);
        }
        if (argc == 2)
            for (const ovk::TreeNode& node : client.TreeNodes()) collect(client, node, ids);
        std::cout << ids.size() << " articles to download\n";
        client.Download(ids);
    } catch (const ovk::Error& e) {
        std::cerr << "nightly download failed: " << e.description << "\n";
        return 1;
    }
    return events.complete ? 0 : 1;
}
