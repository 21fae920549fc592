// SPDX-License-Identifier: MIT
#pragma once

#include <curl/curl.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace ovk::soap {

// A thread of its own that runs the posts started ahead of their calls: it moves every one of
// them on as the network allows and, once one has ended, runs its completion there (reading the
// reply into a tree). The caller's thread is then free to work on the reply before, and only
// waits when a reply has really not come yet. Every post keeps its own easy handle, made and
// set up by the caller; while the worker has it, nobody else touches it.
class PostWorker {
  public:
    using Clock = std::chrono::steady_clock;

    // One post handed to the worker. The caller owns it and keeps it, and its easy handle, until
    // the worker has let go of it: until it is Done, or withdraw() has returned.
    class Post {
      public:
        // Runs on the worker once the transfer has ended, with libcurl's verdict; it must not
        // throw. The post is Done when it returns.
        std::function<void(CURLcode)> completion;
        // libcurl's verdict, once Done.
        CURLcode code() const { return code_; }

      private:
        friend class PostWorker;
        enum class Stage { Idle, Queued, Running, Completing, Done };
        CURL* easy_ = nullptr;
        Stage stage_ = Stage::Idle;
        bool withdrawn_ = false;
        CURLcode code_ = CURLE_OK;
    };

    // `multi` is the worker's from now on, for good: its connection cache keeps each post's
    // connection alive for the next one.
    explicit PostWorker(CURLM* multi);
    // Ends every post still under way and the thread.
    ~PostWorker();
    PostWorker(const PostWorker&) = delete;
    PostWorker& operator=(const PostWorker&) = delete;

    // Hands `post` with `easy` over; its transfer starts at once.
    void start(Post& post, CURL* easy);
    // Waits until `post` is Done, but only until `until` while its transfer is still under way:
    // a completion that has begun is waited for (it keeps a bound of its own). True when Done.
    bool waitFor(Post& post, Clock::time_point until);
    // Takes `post` back, whatever it has come to, ending its transfer; waits for a completion
    // that has begun. Afterwards the worker no longer touches it or its handle. True when the
    // post had ended on its own, its completion run.
    bool withdraw(Post& post);

  private:
    void run();
    // A transfer of the multi handle is over: its post is completed, unless taken back.
    void finished(CURL* easy, CURLcode code);
    // With the lock held: moves queued posts onto the multi handle and withdrawn ones off it.
    void settle();

    CURLM* multi_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Post*> queued_;
    std::deque<Post*> running_;
    bool stopping_ = false;
    // Started last, so that everything it uses is there.
    std::thread thread_;
};

}  // namespace ovk::soap
