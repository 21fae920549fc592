/*
 * A minimal C host of the ovk_client component: it runs Init on a download document and
 * prints every event. With --unattended it opens no window and answers message boxes itself,
 * which is how a host on a machine without a display uses the component.
 *
 *   host-c [--unattended] DOWNLOAD_FILE
 *
 * Exit status: 0 when Init gave 0, 1 when it did not, 2 for a usage error.
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

int main(int argc, char** argv) {
    int unattended = argc == 3 && strcmp(argv[1], "--unattended") == 0;
    if (argc != 2 + unattended) {
        fprintf(stderr, "usage: %s [--unattended] DOWNLOAD_FILE\n", argv[0]);
        return 2;
    }
    const char* download_file = argv[1 + unattended];

    const ovk_client_functions* api = ovk_client_get_functions();
    ovk_client* client = NULL;
    if (ovk_client_create(&client) != OVK_OK) {
        fprintf(stderr, "cannot create the client\n");
        return 1;
    }

    ovk_client_events events;
    memset(&events, 0, sizeof events);
    events.Exception = on_exception;
    events.DownloadCancel = on_download_cancel;
    events.CancelForInstallNewClient = on_install_new_client;
    ovk_client_set_events(client, &events);
    if (unattended) api->set_Unattended(client, 1, on_message_box, NULL);

    int32_t result = 0;
    ovk_status status = api->Init(client, download_file, &result);
    if (status != OVK_OK) {
        fprintf(stderr, "Init failed: %s\n", ovk_client_last_error(client, NULL));
        ovk_client_destroy(client);
        return 1;
    }
    printf("Init gave %d\n", (int)result);
    ovk_client_destroy(client);
    return result == 0 ? 0 : 1;
}
