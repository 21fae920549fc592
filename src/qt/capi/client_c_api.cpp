// SPDX-License-Identifier: MIT
// The C interface: an opaque handle around ovk::Client, a table of its members in interface
// order and callbacks for its events. Nothing thrown inside ever reaches the host.

#include <cstring>
#include <exception>
#include <new>
#include <string>
#include <vector>

#include "ovk/client.hpp"
#include "ovk/ovk_client.h"
#include "platform/errors.hpp"

struct ovk_client {
    // Forwards the client's events to the host's callbacks.
    struct Events : ovk::ClientEvents, ovk::DownloadProgressEvents {
        ovk_client_events callbacks{};

        void Exception(int32_t Number, const std::string& Message,
                       const std::string& Source) override {
            if (callbacks.Exception)
                callbacks.Exception(callbacks.user_data, Number, Message.c_str(), Source.c_str());
        }
        void DownloadComplete() override {
            if (callbacks.DownloadComplete) callbacks.DownloadComplete(callbacks.user_data);
        }
        void DownloadCancel() override {
            if (callbacks.DownloadCancel) callbacks.DownloadCancel(callbacks.user_data);
        }
        void CancelForInstallNewClient() override {
            if (callbacks.CancelForInstallNewClient)
                callbacks.CancelForInstallNewClient(callbacks.user_data);
        }
        void HelpRequested() override {
            if (callbacks.HelpRequested) callbacks.HelpRequested(callbacks.user_data);
        }
        void StepChanged(int16_t Stepnumber) override {
            if (callbacks.StepChanged) callbacks.StepChanged(callbacks.user_data, Stepnumber);
        }

        ovk_download_progress_callback progress = nullptr;
        void* progressData = nullptr;
        void DownloadProgress(int32_t Done, int32_t Total) override {
            if (progress != nullptr) progress(progressData, Done, Total);
        }

        ovk_message_box_callback askBox = nullptr;
        void* askBoxData = nullptr;
        int32_t MessageBox(const ovk::MessageBoxRequest& Box) override {
            if (askBox == nullptr) return 0;
            const ovk_message_box box{Box.Text.c_str(), Box.Title.c_str(), Box.Buttons, Box.Icon,
                                      Box.DefaultAnswer};
            return askBox(askBoxData, &box);
        }
    };

    ovk::Client client;
    Events events;
    std::string lastError;
    int32_t lastErrorNumber = 0;
    // Calls on this handle in progress (nested through callbacks), and whether the host asked
    // to destroy it inside one of them.
    int depth = 0;
    bool destroyRequested = false;

    ovk_client() { client.setEvents(&events); }
};

namespace {

// Counts a call in progress, and frees a handle destroyed during the call once the outermost
// call returns.
class CallScope {
  public:
    explicit CallScope(ovk_client* handle) : handle_(handle) { ++handle_->depth; }
    ~CallScope() {
        if (--handle_->depth == 0 && handle_->destroyRequested) delete handle_;
    }
    CallScope(const CallScope&) = delete;
    CallScope& operator=(const CallScope&) = delete;

  private:
    ovk_client* handle_;
};

bool usable(const ovk_client* handle) {
    return handle != nullptr && !handle->destroyRequested;
}

// Runs one member under the boundary's trap: the handle's last error says what failed.
template <class Body>
ovk_status guarded(ovk_client* handle, Body body) noexcept {
    if (!usable(handle)) return OVK_INVALID_ARGUMENT;
    const CallScope scope(handle);
    try {
        handle->lastError.clear();
        handle->lastErrorNumber = 0;
        return body(handle->client);
    } catch (const std::bad_alloc&) {
        handle->lastError = "Out of memory";
        handle->lastErrorNumber = ovk::err::OutOfMemory;
        return OVK_OUT_OF_MEMORY;
    } catch (...) {
        try {
            const ovk::Error error = ovk::currentError();
            handle->lastError = error.description;
            handle->lastErrorNumber = error.number;
        } catch (...) {
            handle->lastError.clear();
            handle->lastErrorNumber = 0;
        }
        return OVK_FAILED;
    }
}

ovk_status copyText(const std::string& text, char* buffer, size_t bufferSize, size_t* length) {
    if (length == nullptr || (buffer == nullptr && bufferSize != 0)) return OVK_INVALID_ARGUMENT;
    *length = text.size();
    if (buffer == nullptr) return OVK_OK;
    if (bufferSize <= text.size()) {
        if (bufferSize > 0) buffer[0] = '\0';
        return OVK_BUFFER_TOO_SMALL;
    }
    std::memcpy(buffer, text.data(), text.size());
    buffer[text.size()] = '\0';
    return OVK_OK;
}

template <class Getter>
ovk_status getText(ovk_client* handle, Getter getter, char* buffer, size_t bufferSize,
                   size_t* length) {
    return guarded(handle, [&](ovk::Client& client) {
        return copyText(getter(client), buffer, bufferSize, length);
    });
}

template <class Setter>
ovk_status setText(ovk_client* handle, const char* value, Setter setter) {
    if (value == nullptr) return OVK_INVALID_ARGUMENT;
    return guarded(handle, [&](ovk::Client& client) {
        setter(client, std::string(value));
        return OVK_OK;
    });
}

template <class T, class Getter>
ovk_status getValue(ovk_client* handle, T* value, Getter getter) {
    if (value == nullptr) return OVK_INVALID_ARGUMENT;
    return guarded(handle, [&](ovk::Client& client) {
        *value = getter(client);
        return OVK_OK;
    });
}

// The members, in interface order.

ovk_status Test(ovk_client* handle, const char* testString) {
    if (testString == nullptr) return OVK_INVALID_ARGUMENT;
    return guarded(handle, [&](ovk::Client& client) {
        client.Test(testString);
        return OVK_OK;
    });
}

ovk_status Show(ovk_client* handle) {
    return guarded(handle, [](ovk::Client& client) {
        client.Show();
        return OVK_OK;
    });
}

ovk_status Init(ovk_client* handle, const char* downloadFile, int32_t* result) {
    if (result == nullptr) return OVK_INVALID_ARGUMENT;
    return guarded(handle, [&](ovk::Client& client) {
        *result = client.Init(downloadFile != nullptr ? std::string(downloadFile) : std::string());
        return OVK_OK;
    });
}

ovk_status set_DownloadFile(ovk_client* handle, const char* value) {
    return setText(handle, value,
                   [](ovk::Client& c, std::string v) { c.DownloadFile(std::move(v)); });
}
ovk_status get_DownloadFile(ovk_client* handle, char* buffer, size_t bufferSize, size_t* length) {
    return getText(
        handle, [](ovk::Client& c) -> const std::string& { return c.DownloadFile(); }, buffer,
        bufferSize, length);
}
ovk_status set_ServiceUrl(ovk_client* handle, const char* value) {
    return setText(handle, value,
                   [](ovk::Client& c, std::string v) { c.ServiceUrl(std::move(v)); });
}
ovk_status get_ServiceUrl(ovk_client* handle, char* buffer, size_t bufferSize, size_t* length) {
    return getText(
        handle, [](ovk::Client& c) -> const std::string& { return c.ServiceUrl(); }, buffer,
        bufferSize, length);
}
ovk_status set_ProxyPassword(ovk_client* handle, const char* value) {
    return setText(handle, value,
                   [](ovk::Client& c, std::string v) { c.ProxyPassword(std::move(v)); });
}
ovk_status get_ProxyPassword(ovk_client* handle, char* buffer, size_t bufferSize, size_t* length) {
    return getText(
        handle, [](ovk::Client& c) -> const std::string& { return c.ProxyPassword(); }, buffer,
        bufferSize, length);
}
ovk_status set_ProxyUserName(ovk_client* handle, const char* value) {
    return setText(handle, value,
                   [](ovk::Client& c, std::string v) { c.ProxyUserName(std::move(v)); });
}
ovk_status get_ProxyUserName(ovk_client* handle, char* buffer, size_t bufferSize, size_t* length) {
    return getText(
        handle, [](ovk::Client& c) -> const std::string& { return c.ProxyUserName(); }, buffer,
        bufferSize, length);
}
ovk_status set_ProxyPort(ovk_client* handle, int32_t value) {
    return guarded(handle, [&](ovk::Client& client) {
        client.ProxyPort(value);
        return OVK_OK;
    });
}
ovk_status get_ProxyPort(ovk_client* handle, int32_t* value) {
    return getValue(handle, value, [](ovk::Client& c) { return c.ProxyPort(); });
}
ovk_status set_ProxyIP(ovk_client* handle, const char* value) {
    return setText(handle, value, [](ovk::Client& c, std::string v) { c.ProxyIP(std::move(v)); });
}
ovk_status get_ProxyIP(ovk_client* handle, char* buffer, size_t bufferSize, size_t* length) {
    return getText(
        handle, [](ovk::Client& c) -> const std::string& { return c.ProxyIP(); }, buffer,
        bufferSize, length);
}
ovk_status get_ValidationErrorCodes(ovk_client* handle, char* buffer, size_t bufferSize,
                                    size_t* length) {
    return getText(
        handle, [](ovk::Client& c) -> const std::string& { return c.ValidationErrorCodes(); },
        buffer, bufferSize, length);
}
ovk_status get_ActiveStepNumber(ovk_client* handle, int16_t* value) {
    return getValue(handle, value, [](ovk::Client& c) { return c.ActiveStepNumber(); });
}
ovk_status get_GUILangID(ovk_client* handle, int16_t* value) {
    return getValue(handle, value, [](ovk::Client& c) { return c.GUILangID(); });
}
ovk_status set_GUILangID(ovk_client* handle, int16_t value) {
    return guarded(handle, [&](ovk::Client& client) {
        client.GUILangID(value);
        return OVK_OK;
    });
}

ovk_status set_Unattended(ovk_client* handle, int32_t unattended, ovk_message_box_callback callback,
                          void* userData) {
    return guarded(handle, [&](ovk::Client& client) {
        client.Unattended(unattended != 0);
        handle->events.askBox = callback;
        handle->events.askBoxData = userData;
        return OVK_OK;
    });
}
ovk_status get_Unattended(ovk_client* handle, int32_t* unattended) {
    return getValue(handle, unattended,
                    [](ovk::Client& c) { return static_cast<int32_t>(c.Unattended()); });
}

ovk_status set_Trace(ovk_client* handle, const char* file, int32_t withBodies) {
    return guarded(handle, [&](ovk::Client& client) {
        client.Trace(file != nullptr ? std::string(file) : std::string(), withBodies != 0);
        return OVK_OK;
    });
}

// A list of texts as C sees it: pointers into `texts`, valid while `texts` lives unchanged.
std::vector<const char*> cStrings(const std::vector<std::string>& texts) {
    std::vector<const char*> pointers;
    pointers.reserve(texts.size());
    for (const std::string& text : texts) pointers.push_back(text.c_str());
    return pointers;
}

constexpr ovk_client_functions kFunctions = {
    Test,
    Show,
    Init,
    set_DownloadFile,
    get_DownloadFile,
    set_ServiceUrl,
    get_ServiceUrl,
    set_ProxyPassword,
    get_ProxyPassword,
    set_ProxyUserName,
    get_ProxyUserName,
    set_ProxyPort,
    get_ProxyPort,
    set_ProxyIP,
    get_ProxyIP,
    get_ValidationErrorCodes,
    get_ActiveStepNumber,
    get_GUILangID,
    set_GUILangID,
    set_Unattended,
    get_Unattended,
    set_Trace,
};

}  // namespace

extern "C" {

int32_t ovk_client_api_version(void) {
    return OVK_CLIENT_API_VERSION;
}

const ovk_client_functions* ovk_client_get_functions(void) {
    return &kFunctions;
}

ovk_status ovk_client_create(ovk_client** client) {
    if (client == nullptr) return OVK_INVALID_ARGUMENT;
    *client = nullptr;
    try {
        *client = new ovk_client();
        return OVK_OK;
    } catch (const std::bad_alloc&) {
        return OVK_OUT_OF_MEMORY;
    } catch (...) {
        return OVK_FAILED;
    }
}

void ovk_client_destroy(ovk_client* client) {
    if (client == nullptr || client->destroyRequested) return;
    if (client->depth > 0) {
        client->destroyRequested = true;
        return;
    }
    delete client;
}

ovk_status ovk_client_set_events(ovk_client* client, const ovk_client_events* events) {
    return guarded(client, [&](ovk::Client&) {
        client->events.callbacks = events != nullptr ? *events : ovk_client_events{};
        return OVK_OK;
    });
}

const char* ovk_client_version(void) {
    return ovk::version();
}

ovk_status ovk_client_fields(ovk_client* client, ovk_field_callback callback, void* user_data) {
    if (callback == nullptr) return OVK_INVALID_ARGUMENT;
    return guarded(client, [&](ovk::Client& c) {
        const ovk::FieldChoice fields = c.Fields();
        for (const ovk::Field& field : fields.Selected)
            callback(user_data, field.Id, field.Name.c_str(), 1);
        for (const ovk::Field& field : fields.Available)
            callback(user_data, field.Id, field.Name.c_str(), 0);
        return OVK_OK;
    });
}

ovk_status ovk_client_select_fields(ovk_client* client, const int32_t* field_ids, size_t count) {
    if (field_ids == nullptr && count != 0) return OVK_INVALID_ARGUMENT;
    return guarded(client, [&](ovk::Client& c) {
        c.SelectFields(std::vector<int32_t>(field_ids, field_ids + count));
        return OVK_OK;
    });
}

ovk_status ovk_client_tree_nodes(ovk_client* client, const char* parent_key,
                                 ovk_tree_node_callback callback, void* user_data) {
    if (callback == nullptr) return OVK_INVALID_ARGUMENT;
    return guarded(client, [&](ovk::Client& c) {
        for (const ovk::TreeNode& node :
             c.TreeNodes(parent_key != nullptr ? std::string(parent_key) : std::string()))
            callback(user_data, node.Key.c_str(), node.Text.c_str(), node.ChildCount);
        return OVK_OK;
    });
}

ovk_status ovk_client_leaf_articles(ovk_client* client, const char* leaf_key,
                                    ovk_row_callback callback, void* user_data) {
    if (leaf_key == nullptr || callback == nullptr) return OVK_INVALID_ARGUMENT;
    return guarded(client, [&](ovk::Client& c) {
        const ovk::ArticleList list = c.LeafArticles(leaf_key);
        const std::vector<const char*> headers = cStrings(list.Columns);
        callback(user_data, headers.data(), headers.size());
        std::vector<std::string> cells;
        for (const ovk::Article& article : list.Articles) {
            cells.assign(1, article.Id);
            cells.insert(cells.end(), article.Values.begin(), article.Values.end());
            const std::vector<const char*> row = cStrings(cells);
            callback(user_data, row.data(), row.size());
        }
        return OVK_OK;
    });
}

ovk_status ovk_client_download(ovk_client* client, const char* const* article_ids, size_t count,
                               const int32_t* field_ids, size_t field_count) {
    if ((article_ids == nullptr && count != 0) || (field_ids == nullptr && field_count != 0))
        return OVK_INVALID_ARGUMENT;
    for (size_t i = 0; i < count; ++i)
        if (article_ids[i] == nullptr) return OVK_INVALID_ARGUMENT;
    return guarded(client, [&](ovk::Client& c) {
        c.Download(std::vector<std::string>(article_ids, article_ids + count),
                   std::vector<int32_t>(field_ids, field_ids + field_count));
        return OVK_OK;
    });
}

ovk_status ovk_client_set_download_progress(ovk_client* client,
                                            ovk_download_progress_callback callback,
                                            void* user_data) {
    return guarded(client, [&](ovk::Client&) {
        client->events.progress = callback;
        client->events.progressData = user_data;
        return OVK_OK;
    });
}

ovk_status ovk_client_stop_download(ovk_client* client) {
    // No guard: it may run on another thread while a call on the client is in progress, and
    // must touch nothing that call uses.
    if (client == nullptr) return OVK_INVALID_ARGUMENT;
    client->client.StopDownload();
    return OVK_OK;
}

ovk_status ovk_client_unfinished_download(ovk_client* client, int32_t* unfinished, int32_t* done,
                                          int32_t* total) {
    if (unfinished == nullptr || done == nullptr || total == nullptr) return OVK_INVALID_ARGUMENT;
    return guarded(client, [&](ovk::Client& c) {
        *unfinished = c.UnfinishedDownload(*done, *total) ? 1 : 0;
        return OVK_OK;
    });
}

ovk_status ovk_client_continue_download(ovk_client* client) {
    return guarded(client, [](ovk::Client& c) {
        c.ContinueDownload();
        return OVK_OK;
    });
}

const char* ovk_client_last_error(const ovk_client* client, int32_t* number) {
    if (number != nullptr) *number = client != nullptr ? client->lastErrorNumber : 0;
    return client != nullptr ? client->lastError.c_str() : "";
}

}  // extern "C"
