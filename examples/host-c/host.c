/* SPDX-License-Identifier: MIT */
/*
 * A minimal C host of the ovk_client component: it runs Init on a download document and
 * prints every event. With --unattended it opens no window and answers message boxes itself,
 * which is how a host on a machine without a display uses the component. With --download
 * LEAF_KEY (which implies --unattended) it then downloads every article under that leaf of the
 * tree without the wizard, printing the progress.
 *
 *   host-c [--unattended | --download LEAF_KEY] DOWNLOAD_FILE
 *
 * Exit status: 0 when Init gave 0 (and the download completed), 1 when not, 2 for a usage
 * error.
 */
#include <ovk/ovk_client.h>
#include <stdio.h>
#include <string.h>

static void on_exception(void* user_data, int32_t number, const char* message, const char* source) {
    (void)user_data;
    printf("Exception %d from %s: %s\n", (int)number, source, message);
}

static void on_download_cancel(void* user_data) {
    (void)user_data;
    printf("DownloadCancel\n");
}

static void on_install_new_client(void* user_data) {
    (void)user_data;
    printf("CancelForInstallNewClient\n");
}

/* Every box an unattended client would have shown; 0 takes the box's default button. */
static int32_t on_message_box(void* user_data, const ovk_message_box* box) {
    (void)user_data;
    printf("MessageBox \"%s\": %s\n", box->title, box->text);
    return 0;
}

static void on_download_complete(void* user_data) {
    *(int*)user_data = 1;
    printf("DownloadComplete\n");
}

static void on_progress(void* user_data, int32_t done, int32_t total) {
    (void)user_data;
    printf("%d/%d articles\n", (int)done, (int)total);
}

/* The article identifiers of a leaf, gathered from its rows; the first row holds the column
 * headers. */
struct articles {
    char ids[64][64];
    size_t count;
    int headers_seen;
};

static void on_row(void* user_data, const char* const* cells, size_t cell_count) {
    struct articles* found = (struct articles*)user_data;
    if (!found->headers_seen) {
        found->headers_seen = 1;
        return;
    }
    if (cell_count == 0 || found->count == sizeof found->ids / sizeof found->ids[0]) return;
    strncpy(found->ids[found->count], cells[0], sizeof found->ids[0] - 1);
    found->ids[found->count][sizeof found->ids[0] - 1] = '\0';
    ++found->count;
}

/* Every article under the leaf, downloaded as the wizard's Finish would. */
static int download_leaf(ovk_client* client, const char* leaf_key) {
    struct articles found;
    const char* ids[64];
    size_t i;
    memset(&found, 0, sizeof found);
    if (ovk_client_leaf_articles(client, leaf_key, on_row, &found) != OVK_OK) return 0;
    for (i = 0; i < found.count; ++i) ids[i] = found.ids[i];
    ovk_client_set_download_progress(client, on_progress, NULL);
    return ovk_client_download(client, ids, found.count, NULL, 0) == OVK_OK;
}

int main(int argc, char** argv) {
    int unattended = argc == 3 && strcmp(argv[1], "--unattended") == 0;
    const char* leaf_key = argc == 4 && strcmp(argv[1], "--download") == 0 ? argv[2] : NULL;
    const char* download_file = argv[argc - 1];
    const ovk_client_functions* api = ovk_client_get_functions();
    ovk_client* client = NULL;
    int complete = 0;
    ovk_client_events events;
    int32_t result = 0;
    ovk_status status;
    if (leaf_key != NULL) unattended = 1;
    if (argc != 2 + unattended + (leaf_key != NULL)) {
        fprintf(stderr, "usage: %s [--unattended | --download LEAF_KEY] DOWNLOAD_FILE\n", argv[0]);
        return 2;
    }
    printf("ovk_client %s\n", ovk_client_version());

    if (ovk_client_create(&client) != OVK_OK) {
        fprintf(stderr, "cannot create the client\n");
        return 1;
    }

    memset(&events, 0, sizeof events);
    events.user_data = &complete;
    events.Exception = on_exception;
    events.DownloadComplete = on_download_complete;
    events.DownloadCancel = on_download_cancel;
    events.CancelForInstallNewClient = on_install_new_client;
    ovk_client_set_events(client, &events);
    if (unattended) api->set_Unattended(client, 1, on_message_box, NULL);

    status = api->Init(client, download_file, &result);
    if (status != OVK_OK) {
        fprintf(stderr, "Init failed: %s\n", ovk_client_last_error(client, NULL));
        ovk_client_destroy(client);
        return 1;
    }
    printf("Init gave %d\n", (int)result);
    if (result == 0 && leaf_key != NULL && !download_leaf(client, leaf_key))
        fprintf(stderr, "the download failed: %s\n", ovk_client_last_error(client, NULL));
    ovk_client_destroy(client);
    return result == 0 && (leaf_key == NULL || complete) ? 0 : 1;
}
