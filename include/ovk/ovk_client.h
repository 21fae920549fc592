/* SPDX-License-Identifier: MIT */
#ifndef OVK_CLIENT_H
#define OVK_CLIENT_H

/*
 * The C interface of the ovk_client component.
 *
 * A host creates a client with ovk_client_create(), tells it where its events go with
 * ovk_client_set_events(), and calls the members of the table ovk_client_get_functions()
 * returns, in the component's interface order: Test, Show, Init, then the properties.
 *
 * Rules that hold for every function:
 * - Everything runs on the thread that created the client (the host's user-interface thread).
 *   Calls block until their windows have closed; events arrive synchronously on that thread,
 *   before the call that raised them goes on.
 * - No failure escapes as anything but a status code. OVK_FAILED means the component reported
 *   a failure; ovk_client_last_error() then tells which.
 * - Texts cross as NUL-terminated UTF-8.
 * - A text getter copies into a buffer the caller provides: it stores the text's length in
 *   bytes (without the terminating NUL) in *length, and copies text and NUL when buffer_size
 *   is larger than that length. Pass buffer NULL (and buffer_size 0) to ask for the length
 *   only. When the buffer is too small it receives an empty text and the call returns
 *   OVK_BUFFER_TOO_SMALL; call again with length + 1 bytes.
 * - A client may be destroyed inside one of its own event callbacks: it then goes away as soon
 *   as the outermost call on it returns, and every further call on it returns
 *   OVK_INVALID_ARGUMENT.
 */

#include <ovk/version.h>
#include <stddef.h>
#include <stdint.h>

#if defined(__GNUC__)
#define OVK_CLIENT_API __attribute__((visibility("default")))
#else
#define OVK_CLIENT_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/** The version of this interface. Grows when members are appended to the structs below or
 * functions are added. */
#define OVK_CLIENT_API_VERSION 4

/** The outcome of a call. */
typedef enum ovk_status {
    OVK_OK = 0,               /**< the call did what it was asked */
    OVK_INVALID_ARGUMENT = 1, /**< a NULL or destroyed client, or a NULL pointer argument */
    OVK_BUFFER_TOO_SMALL = 2, /**< a text getter's buffer cannot hold the text and its NUL */
    OVK_OUT_OF_MEMORY = 3,    /**< memory ran out */
    OVK_FAILED = 4            /**< the component failed; see ovk_client_last_error() */
} ovk_status;

/** A component instance. Opaque; made by ovk_client_create(), freed by ovk_client_destroy(). */
typedef struct ovk_client ovk_client;

/**
 * Where a client's events go, in the component's event order. Any callback may be NULL, which
 * drops that event. Text arguments are valid only during the callback. user_data is passed
 * to every callback unchanged.
 */
typedef struct ovk_client_events {
    /** 1: a failure: start-up steps, service failures, Test, the wizard's debug texts. */
    void (*Exception)(void* user_data, int32_t number, const char* message, const char* source);
    /** 2: the download finished; the download document holds its results. */
    void (*DownloadComplete)(void* user_data);
    /** 3: the user cancelled the wizard or declined a newer client version. */
    void (*DownloadCancel)(void* user_data);
    /** 4: the user chose to install a newer client version; its installer was started. */
    void (*CancelForInstallNewClient)(void* user_data);
    /** 5: the user pressed F1 inside the wizard. */
    void (*HelpRequested)(void* user_data);
    /** 6: the wizard moved to step `step`. */
    void (*StepChanged)(void* user_data, int16_t step);
    /** Passed to every callback. */
    void* user_data;
} ovk_client_events;

/**
 * A message box that an unattended client puts to its host instead of showing it. The texts
 * are valid only during the callback.
 */
typedef struct ovk_message_box {
    /** The box's text, as a user would have seen it. */
    const char* text;
    /** The box's title. */
    const char* title;
    /** 0 OK, 1 OK and Cancel, 2 Abort, Retry and Ignore, 3 Yes, No and Cancel, 4 Yes and No,
     * 5 Retry and Cancel. */
    int32_t buttons;
    /** 0 none, 16 critical, 32 question, 48 exclamation, 64 information. */
    int32_t icon;
    /** The answer of the default button: 1 OK, 2 Cancel, 3 Abort, 4 Retry, 5 Ignore, 6 Yes,
     * 7 No. */
    int32_t default_answer;
} ovk_message_box;

/**
 * Answers a message box of an unattended client; every box arrives here. Returns one of the
 * box's buttons (numbered as default_answer), or 0 for the default button; any other number
 * also takes the default button.
 */
typedef int32_t (*ovk_message_box_callback)(void* user_data, const ovk_message_box* box);

/**
 * The members of a client, in the component's interface order. Every member takes the client
 * first and returns an ovk_status.
 */
typedef struct ovk_client_functions {
    /** 1: shows a test message box with `test_string`; Yes raises DownloadComplete, any other
     * answer DownloadCancel. */
    ovk_status (*Test)(ovk_client* client, const char* test_string);
    /** 2: runs the wizard; returns when it has closed. Call it after Init gave 0: without a
     * successful Init, or without a display, it shows nothing, raises one Exception and returns
     * OVK_FAILED. */
    ovk_status (*Show)(ovk_client* client);
    /** 3: checks the installation, the download document `download_file` (NULL or "" keeps the
     * DownloadFile property) and the service; stores the outcome in *result: 0 all is well,
     * 1 the user declined a newer client, -1 no document or the installer of a newer client
     * was started, another negative step code on failure (with an Exception event), -990 when
     * the component cannot show its windows (no display; see set_Unattended). */
    ovk_status (*Init)(ovk_client* client, const char* download_file, int32_t* result);
    /** 4: sets the path of the download document. */
    ovk_status (*set_DownloadFile)(ovk_client* client, const char* value);
    /** 5: gets the path of the download document (text getter rules above). */
    ovk_status (*get_DownloadFile)(ovk_client* client, char* buffer, size_t buffer_size,
                                   size_t* length);
    /** 6: sets the service end point; Init replaces it by the document's URL. */
    ovk_status (*set_ServiceUrl)(ovk_client* client, const char* value);
    /** 7: gets the service end point. */
    ovk_status (*get_ServiceUrl)(ovk_client* client, char* buffer, size_t buffer_size,
                                 size_t* length);
    /** 8: sets the proxy password; the document's value wins when it has one. */
    ovk_status (*set_ProxyPassword)(ovk_client* client, const char* value);
    /** 9: gets the proxy password. */
    ovk_status (*get_ProxyPassword)(ovk_client* client, char* buffer, size_t buffer_size,
                                    size_t* length);
    /** 10: sets the proxy user; the document's value wins when it has one. */
    ovk_status (*set_ProxyUserName)(ovk_client* client, const char* value);
    /** 11: gets the proxy user. */
    ovk_status (*get_ProxyUserName)(ovk_client* client, char* buffer, size_t buffer_size,
                                    size_t* length);
    /** 12: sets the proxy port; the document's value wins when it is a number. */
    ovk_status (*set_ProxyPort)(ovk_client* client, int32_t value);
    /** 13: gets the proxy port. */
    ovk_status (*get_ProxyPort)(ovk_client* client, int32_t* value);
    /** 14: sets the proxy host name or address; the document's value wins when it has one. */
    ovk_status (*set_ProxyIP)(ovk_client* client, const char* value);
    /** 15: gets the proxy host name or address. */
    ovk_status (*get_ProxyIP)(ovk_client* client, char* buffer, size_t buffer_size, size_t* length);
    /** 16: gets the last schema-validation or service-connection detail, shared by all clients. */
    ovk_status (*get_ValidationErrorCodes)(ovk_client* client, char* buffer, size_t buffer_size,
                                           size_t* length);
    /** 17: gets the wizard step last reported (0 before the wizard ran). */
    ovk_status (*get_ActiveStepNumber)(ovk_client* client, int16_t* value);
    /** 18: gets the user-interface language identifier (1033 English, 1031 German, ...). */
    ovk_status (*get_GUILangID)(ovk_client* client, int16_t* value);
    /** 19: sets the user-interface language identifier. */
    ovk_status (*set_GUILangID)(ovk_client* client, int16_t value);

    /* Since interface version 2. */

    /** 20: unattended mode (non-zero `unattended`), for hosts without a screen or without a
     * user: the client opens no window. Every message box goes to `callback` (with
     * `user_data`), or takes its default button when callback is NULL; Show runs the wizard's
     * start without anyone to choose and ends as cancelled (DownloadCancel). Set it before
     * Init; inside Init or Show it fails with OVK_FAILED. Zero switches back to windows. */
    ovk_status (*set_Unattended)(ovk_client* client, int32_t unattended,
                                 ovk_message_box_callback callback, void* user_data);
    /** 21: whether the client is unattended (1) or not (0). */
    ovk_status (*get_Unattended)(ovk_client* client, int32_t* unattended);

    /* Since interface version 3. */

    /** 22: traces every service call of the next Init and Show to `file`, for support: one
     * JSON line per attempt (time, operation, article, attempt, HTTP status, bytes sent,
     * received and inflated, duration, outcome), with the request and reply bodies when
     * `with_bodies` is non-zero. Passwords and proxy credentials are written as ***. NULL or ""
     * leaves it to the per-user setting TraceFile. A file that cannot be written fails Init
     * (-9). */
    ovk_status (*set_Trace)(ovk_client* client, const char* file, int32_t with_bodies);
} ovk_client_functions;

/** The version of the interface the loaded library implements (OVK_CLIENT_API_VERSION). */
OVK_CLIENT_API int32_t ovk_client_api_version(void);

/** The members of every client. The table is static and lives as long as the library. */
OVK_CLIENT_API const ovk_client_functions* ovk_client_get_functions(void);

/** Creates a client with all properties empty or 0 and stores it in *client. The component's
 * windows use the host's QApplication when it has one, and create one otherwise. Without a
 * display (no DISPLAY or WAYLAND_DISPLAY, no QT_QPA_PLATFORM) Init and Show report that as a
 * failure instead of opening windows; QT_QPA_PLATFORM=offscreen or the unattended mode serve
 * headless hosts. */
OVK_CLIENT_API ovk_status ovk_client_create(ovk_client** client);

/** Destroys a client (NULL is allowed and does nothing). Inside one of the client's own
 * callbacks, the client goes away when the outermost call on it returns. */
OVK_CLIENT_API void ovk_client_destroy(ovk_client* client);

/** Sends the client's events to the callbacks in *events (copied), or drops them all when
 * events is NULL. */
OVK_CLIENT_API ovk_status ovk_client_set_events(ovk_client* client,
                                                const ovk_client_events* events);

/*
 * Since interface version 4.
 */

/** The component's version, "MAJOR.MINOR.PATCH", as the loaded library was built; a static
 * text. */
OVK_CLIENT_API const char* ovk_client_version(void);

/*
 * Downloads without the wizard: a host that chooses the articles itself (or knows them, as a
 * nightly download does) calls these after Init gave 0, instead of Show. They drive the
 * wizard's own model without a window, so the tree has the wizard's bounds, the field choice is
 * stored where the wizard stores it, and a download runs the wizard's Finish. Each returns
 * OVK_FAILED, with an Exception event and ovk_client_last_error() saying why, when called
 * without a successful Init, inside another call on the client, or when the service or an
 * argument fails it. Text arguments of the callbacks are valid only during the callback.
 */

/** Receives one data field of the project: its number, its name, and whether the tree is built
 * over it (1) or not (0). */
typedef void (*ovk_field_callback)(void* user_data, int32_t id, const char* name, int32_t selected);
/** Calls `callback` once per data field of the project: first the fields the tree is built
 * over, top level first (the user's stored choice for this project and language, or the
 * service's default choice, which is then stored), then the others in the service's order. */
OVK_CLIENT_API ovk_status ovk_client_fields(ovk_client* client, ovk_field_callback callback,
                                            void* user_data);

/** Builds the tree over these `count` fields (numbers from ovk_client_fields, top level first)
 * and stores them as the user's choice, as the wizard's Next does. An empty list, a field the
 * project lacks or one given twice fails with number 5. */
OVK_CLIENT_API ovk_status ovk_client_select_fields(ovk_client* client, const int32_t* field_ids,
                                                   size_t count);

/** Receives one node of the tree: its key (for ovk_client_tree_nodes and
 * ovk_client_leaf_articles), the text shown for it, and the number of nodes directly below it
 * (0 for a leaf). */
typedef void (*ovk_tree_node_callback)(void* user_data, const char* key, const char* text,
                                       int32_t child_count);
/** Calls `callback` once per node directly below the node `parent_key`, or per node at the top
 * of the tree for NULL or "". The tree is read once from the service; each call hands out one
 * level of it. A key the tree lacks fails with number 9. */
OVK_CLIENT_API ovk_status ovk_client_tree_nodes(ovk_client* client, const char* parent_key,
                                                ovk_tree_node_callback callback, void* user_data);

/** Receives one row of `cell_count` texts. */
typedef void (*ovk_row_callback)(void* user_data, const char* const* cells, size_t cell_count);
/** Reads the articles under the leaf `leaf_key` as the wizard does when the user rests on it
 * (with the same Exception of source "Debugger" naming the leaf), then calls `callback` first
 * with the column headers, then once per article, whose first cell is its identifier. A key the
 * tree lacks fails with number 9, a node that is no leaf with number 5. */
OVK_CLIENT_API ovk_status ovk_client_leaf_articles(ovk_client* client, const char* leaf_key,
                                                   ovk_row_callback callback, void* user_data);

/** Downloads the `count` articles `article_ids`, in this order, through the wizard's Finish:
 * the structure request, one item request per article and Finish, with the same events, files
 * and failure handling; it ends with DownloadComplete. No articles end with DownloadCancel, as
 * an empty Finish does. `field_count` fields `field_ids`, when given, are selected first as
 * ovk_client_select_fields does. A failed download keeps the articles saved so far, frees the
 * document and returns OVK_FAILED. */
OVK_CLIENT_API ovk_status ovk_client_download(ovk_client* client, const char* const* article_ids,
                                              size_t count, const int32_t* field_ids,
                                              size_t field_count);

/** Told after each article of a download (the wizard's or ovk_client_download's) that `done`
 * of `total` articles are dealt with: saved, or reported by an Exception. */
typedef void (*ovk_download_progress_callback)(void* user_data, int32_t done, int32_t total);
/** Sends the progress of downloads to `callback` (NULL: nowhere). */
OVK_CLIENT_API ovk_status ovk_client_set_download_progress(ovk_client* client,
                                                           ovk_download_progress_callback callback,
                                                           void* user_data);

/** The failure of the last call on `client` that returned OVK_FAILED: its description as the
 * return value (valid until the next call on the client) and its number in *number when
 * number is not NULL. An empty text when the last call succeeded or client is NULL. */
OVK_CLIENT_API const char* ovk_client_last_error(const ovk_client* client, int32_t* number);

/* Since interface version 4: stopping a long download and continuing it later. */

/** Asks a running download (the wizard's Finish, ovk_client_download or
 * ovk_client_continue_download) to stop after
 * the article being fetched: the download document keeps the articles saved so far, the client
 * raises DownloadCancel, and the download can be continued later. The one function that may be
 * called from any thread, also while another call on the client runs (from a signal-handling
 * thread, for example); the client must not be destroyed meanwhile. A request made while Show,
 * ovk_client_download or ovk_client_continue_download runs but before the download starts
 * stops it before its first article; one made while none of them runs does nothing. */
OVK_CLIENT_API ovk_status ovk_client_stop_download(ovk_client* client);

/** Whether the download document (DownloadFile) holds a download that stopped before its end:
 * *unfinished receives 1 or 0, and when 1, *done the articles saved and *total all the articles
 * of that download. 0 also when the document changed since, cannot be read, or another
 * download holds it. Checking repairs what an interrupted run left, as Init does. */
OVK_CLIENT_API ovk_status ovk_client_unfinished_download(ovk_client* client, int32_t* unfinished,
                                                         int32_t* done, int32_t* total);

/** Continues that download without a window, from the next article, then finishes it as the
 * wizard's Finish does (DownloadComplete, or DownloadCancel after a stop); the result is that
 * of one download without the stop. Call it after Init gave 0. Nothing to continue, or a failed
 * download, raises one Exception with source "ContinueDownload" and returns OVK_FAILED. */
OVK_CLIENT_API ovk_status ovk_client_continue_download(ovk_client* client);

#ifdef __cplusplus
}
#endif

#endif /* OVK_CLIENT_H */
