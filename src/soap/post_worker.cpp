// SPDX-License-Identifier: MIT
#include "soap/post_worker.hpp"

#include <algorithm>

namespace ovk::soap {

PostWorker::PostWorker(CURLM* multi) : multi_(multi), thread_([this] { run(); }) {}

PostWorker::~PostWorker() {
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    curl_multi_wakeup(multi_);
    thread_.join();
    // Posts still here were never taken back; their handles leave the multi handle before it
    // goes.
    for (Post* post : running_) curl_multi_remove_handle(multi_, post->easy_);
}

void PostWorker::start(Post& post, CURL* easy) {
    post.easy_ = easy;
    post.withdrawn_ = false;
    curl_easy_setopt(easy, CURLOPT_PRIVATE, &post);
    {
        const std::lock_guard lock(mutex_);
        post.stage_ = Post::Stage::Queued;
        queued_.push_back(&post);
    }
    curl_multi_wakeup(multi_);
}

bool PostWorker::waitFor(Post& post, Clock::time_point until) {
    std::unique_lock lock(mutex_);
    while (post.stage_ != Post::Stage::Done) {
        if (post.stage_ == Post::Stage::Completing) {
            changed_.wait(lock);
        } else if (changed_.wait_until(lock, until) == std::cv_status::timeout &&
                   post.stage_ != Post::Stage::Done && post.stage_ != Post::Stage::Completing) {
            return false;
        }
    }
    return true;
}

bool PostWorker::withdraw(Post& post) {
    std::unique_lock lock(mutex_);
    switch (post.stage_) {
        case Post::Stage::Idle:
            return false;
        case Post::Stage::Done:
            return !post.withdrawn_;
        case Post::Stage::Queued:
            queued_.erase(std::find(queued_.begin(), queued_.end(), &post));
            post.stage_ = Post::Stage::Idle;
            return false;
        case Post::Stage::Completing:
            changed_.wait(lock, [&] { return post.stage_ == Post::Stage::Done; });
            return true;
        case Post::Stage::Running:
            break;
    }
    // Only the worker may take a handle off the multi handle; it does so when it wakes.
    post.withdrawn_ = true;
    lock.unlock();
    curl_multi_wakeup(multi_);
    lock.lock();
    changed_.wait(lock, [&] { return post.stage_ == Post::Stage::Done; });
    return false;
}

void PostWorker::settle() {
    for (Post* post : queued_) {
        if (curl_multi_add_handle(multi_, post->easy_) == CURLM_OK) {
            post->stage_ = Post::Stage::Running;
            running_.push_back(post);
        } else {
            // As a transfer that could not be made: its caller reports it as any other.
            post->code_ = CURLE_FAILED_INIT;
            post->stage_ = Post::Stage::Done;
            changed_.notify_all();
        }
    }
    queued_.clear();
    const auto withdrawn = std::stable_partition(
        running_.begin(), running_.end(), [](const Post* post) { return !post->withdrawn_; });
    for (auto at = withdrawn; at != running_.end(); ++at) {
        curl_multi_remove_handle(multi_, (*at)->easy_);
        (*at)->code_ = CURLE_ABORTED_BY_CALLBACK;
        (*at)->stage_ = Post::Stage::Done;
    }
    if (withdrawn != running_.end()) {
        running_.erase(withdrawn, running_.end());
        changed_.notify_all();
    }
}

void PostWorker::run() {
    while (true) {
        {
            const std::lock_guard lock(mutex_);
            if (stopping_) return;
            settle();
        }
        int active = 0;
        curl_multi_perform(multi_, &active);
        int left = 0;
        while (CURLMsg* message = curl_multi_info_read(multi_, &left)) {
            if (message->msg == CURLMSG_DONE) finished(message->easy_handle, message->data.result);
        }
        curl_multi_poll(multi_, nullptr, 0, 1000, nullptr);
    }
}

void PostWorker::finished(CURL* easy, CURLcode code) {
    Post* post = nullptr;
    curl_easy_getinfo(easy, CURLINFO_PRIVATE, &post);
    if (post == nullptr) return;
    // Off the multi handle first: the connection goes back to the cache for the next post, and
    // the caller may read the handle once the post is Done.
    curl_multi_remove_handle(multi_, easy);
    {
        const std::lock_guard lock(mutex_);
        running_.erase(std::find(running_.begin(), running_.end(), post));
        post->code_ = code;
        // A post its caller has just taken back wants no completion.
        post->stage_ = post->withdrawn_ ? Post::Stage::Done : Post::Stage::Completing;
        if (post->withdrawn_) {
            changed_.notify_all();
            return;
        }
    }
    if (post->completion) post->completion(code);
    {
        const std::lock_guard lock(mutex_);
        post->stage_ = Post::Stage::Done;
    }
    changed_.notify_all();
}

}  // namespace ovk::soap
