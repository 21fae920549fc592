// SPDX-License-Identifier: MIT
// The download document's journal as the next run reads it: after a crash in the same boot of
// the machine, and after a restart.

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <optional>
#include <thread>

#include "platform/write_hooks.hpp"
#include "service/document_store.hpp"
#include "service/journal_io.hpp"
#include "temp_dir.hpp"

namespace ovk {
namespace {

using test::readAll;
using test::TempDir;

// The process dies at the first write after `left` more: the checkpoint that would have made
// the last commit safe from a power cut never lands.
struct KilledAfterWrites final : files::WriteHooks {
    std::atomic<int> left{1 << 30};
    std::size_t writing(std::size_t wanted) override {
        if (left.fetch_sub(1) <= 0) ::raise(SIGKILL);
        return wanted;
    }
};

// A commit is in the page cache at once and on disk only at the next checkpoint. Killed in
// between, the next run in the same boot keeps the commit (the page cache survived); after a
// restart it may rely on the checkpoint alone, and goes back to it.
TEST(DocumentJournal, TheLatestCommitCountsInTheSameBootOnlyTheCheckpointAfterARestart) {
    struct Case {
        const char* name;
        std::optional<std::string> boot;  // the repair's; none: the one of the kill
        std::string left;
    };
    const std::vector<Case> cases = {
        {"same boot", std::nullopt, "<D><a/></D>"},
        {"after a restart", "another boot", "<D></D>"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir work;
        const auto document = work.write("download.xml", "<D></D>");
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            try {
                static KilledAfterWrites hooks;
                files::setWriteHooks(&hooks);
                DocumentStore store(document);
                store.beginAppends(3, "</D>");
                DocumentStore::writeAt(store.appendDescriptor(), "<a/></D>", 3);
                hooks.left = 1;  // the commit's own slot
                store.commit(7);
                std::this_thread::sleep_for(3 * DocumentStore::kFlushInterval);
            } catch (...) {
            }
            ::_exit(2);
        }
        int status = 0;
        ::waitpid(pid, &status, 0);
        ASSERT_TRUE(WIFSIGNALED(status)) << "the checkpoint never came: " << status;
        ASSERT_EQ(readAll(document), "<D><a/></D>");
        journal::standInBoot(c.boot);
        { const DocumentStore repaired(document); }
        journal::standInBoot(std::nullopt);
        EXPECT_EQ(readAll(document), c.left);
    }
}

}  // namespace
}  // namespace ovk
