/* A C99 program on ctrl_lumo_c.h, built with -std=c99 -pedantic-errors:
 * the header is plain C, and the library links and answers from C. */
#include <ctrl_lumo_c.h>

#include <stdio.h>
#include <string.h>

int main(void) {
    ctrl_lumo_link* link = ctrl_lumo_create();
    ctrl_lumo_result result;
    int failures = 0;
    if (!link)
        return 1;
    failures += ctrl_lumo_send_command(link, "zh", &result) != CTRL_LUMO_ERR_NOT_OPEN;
    failures += result.outcome != CTRL_LUMO_OUTCOME_NONE || strcmp(result.data, "") != 0;
    failures += strcmp(ctrl_lumo_last_error(link), "no link is open") != 0;
    failures += ctrl_lumo_open_tcp(NULL, "127.0.0.1", 0) != CTRL_LUMO_ERR_ARGUMENT;
    failures += strcmp(ctrl_lumo_last_error(NULL), "no link: the handle is NULL") != 0;
    ctrl_lumo_destroy(link);
    printf("libctrl_lumo_c %s: %d failures\n", ctrl_lumo_version(), failures);
    return failures != 0;
}
