/* A C program outside the tree that knows the modules only through the
 * installed ctrl_lumo_c.h and libctrl_lumo_c.so: asks the module at the
 * address given for its device information and prints it. */
#include <ctrl_lumo/ctrl_lumo_c.h>

#include <stdio.h>

int main(int argc, char **argv) {
    ctrl_lumo_link *link;
    ctrl_lumo_result answer;
    int code;
    if (argc != 2) {
        fprintf(stderr, "usage: lumo_hello_c ADDRESS\n");
        return 2;
    }
    link = ctrl_lumo_create();
    code = ctrl_lumo_open_tcp(link, argv[1], 0);
    if (code == CTRL_LUMO_OK)
        code = ctrl_lumo_send_command(link, "zh", &answer);
    if (code != CTRL_LUMO_OK)
        fprintf(stderr, "lumo_hello_c: %s\n", ctrl_lumo_last_error(link));
    else
        printf("%s: %s\n", answer.caption, answer.data);
    ctrl_lumo_destroy(link);
    return code == CTRL_LUMO_OK ? 0 : 1;
}
