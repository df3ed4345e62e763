/* kwin_keys: keys and a pointer through KWin's fake-input protocol (Wayland).
 *
 *   kwin_keys type DELAY_MS TEXT    types TEXT (ASCII), DELAY_MS between keys
 *   kwin_keys key CODE              one key by its evdev code (28 is Enter)
 *   kwin_keys click X Y             a left click at X, Y
 *
 * KWin lets any client use it when started with KWIN_WAYLAND_NO_PERMISSION_CHECKS=1.
 */
#include "fake-input-client.h"

#include <linux/input-event-codes.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <wayland-client.h>

static struct wl_display* display;
static struct org_kde_kwin_fake_input* input;

static void global(void* data, struct wl_registry* registry, uint32_t name, const char* interface,
                   uint32_t version) {
    (void)data;
    if (strcmp(interface, org_kde_kwin_fake_input_interface.name) == 0)
        input = wl_registry_bind(registry, name, &org_kde_kwin_fake_input_interface,
                                 version < 4 ? version : 4);
}

static void global_remove(void* data, struct wl_registry* registry, uint32_t name) {
    (void)data;
    (void)registry;
    (void)name;
}

static const struct wl_registry_listener listener = {global, global_remove};

static void pause_ms(int ms) {
    struct timespec wait = {ms / 1000, (ms % 1000) * 1000000L};
    nanosleep(&wait, NULL);
}

static void key(int code, int down) {
    org_kde_kwin_fake_input_keyboard_key(input, (uint32_t)code, (uint32_t)down);
    wl_display_roundtrip(display);
}

/* The evdev code of an ASCII character on a US layout, and whether it needs Shift. */
static int code_of(char c, int* shift) {
    static const char letters[] = "abcdefghijklmnopqrstuvwxyz";
    static const int codes[] = {KEY_A, KEY_B, KEY_C, KEY_D, KEY_E, KEY_F, KEY_G, KEY_H, KEY_I,
                                KEY_J, KEY_K, KEY_L, KEY_M, KEY_N, KEY_O, KEY_P, KEY_Q, KEY_R,
                                KEY_S, KEY_T, KEY_U, KEY_V, KEY_W, KEY_X, KEY_Y, KEY_Z};
    *shift = c >= 'A' && c <= 'Z';
    const char* letter = strchr(letters, *shift ? c - 'A' + 'a' : c);
    if (letter && *letter)
        return codes[letter - letters];
    if (c >= '1' && c <= '9')
        return KEY_1 + (c - '1');
    switch (c) {
    case '0': return KEY_0;
    case ' ': return KEY_SPACE;
    case '\n': return KEY_ENTER;
    case '.': return KEY_DOT;
    case ',': return KEY_COMMA;
    case ';': return KEY_SEMICOLON;
    case '\'': return KEY_APOSTROPHE;
    case '-': return KEY_MINUS;
    case '/': return KEY_SLASH;
    case ':': *shift = 1; return KEY_SEMICOLON;
    case '!': *shift = 1; return KEY_1;
    case '?': *shift = 1; return KEY_SLASH;
    }
    return -1;
}

int main(int argc, char** argv) {
    display = wl_display_connect(NULL);
    if (!display) {
        fprintf(stderr, "kwin_keys: no Wayland display\n");
        return 1;
    }
    wl_registry_add_listener(wl_display_get_registry(display), &listener, NULL);
    wl_display_roundtrip(display);
    if (!input) {
        fprintf(stderr, "kwin_keys: the compositor offers no org_kde_kwin_fake_input\n");
        return 1;
    }
    org_kde_kwin_fake_input_authenticate(input, "kwin_keys", "desktop tests");
    wl_display_roundtrip(display);
    if (argc == 4 && strcmp(argv[1], "type") == 0) {
        const int delay = atoi(argv[2]);
        for (const char* c = argv[3]; *c; ++c) {
            int shift = 0;
            const int code = code_of(*c, &shift);
            if (code < 0) {
                fprintf(stderr, "kwin_keys: no key for %c\n", *c);
                return 2;
            }
            if (shift)
                key(KEY_LEFTSHIFT, 1);
            key(code, 1);
            key(code, 0);
            if (shift)
                key(KEY_LEFTSHIFT, 0);
            pause_ms(delay);
        }
    } else if (argc == 3 && strcmp(argv[1], "key") == 0) {
        key(atoi(argv[2]), 1);
        key(atoi(argv[2]), 0);
    } else if (argc == 4 && strcmp(argv[1], "click") == 0) {
        org_kde_kwin_fake_input_pointer_motion_absolute(input, wl_fixed_from_int(atoi(argv[2])),
                                                        wl_fixed_from_int(atoi(argv[3])));
        wl_display_roundtrip(display);
        pause_ms(100);
        org_kde_kwin_fake_input_button(input, BTN_LEFT, 1);
        wl_display_roundtrip(display);
        pause_ms(50);
        org_kde_kwin_fake_input_button(input, BTN_LEFT, 0);
        wl_display_roundtrip(display);
    } else {
        fprintf(stderr, "usage: kwin_keys type DELAY_MS TEXT | key CODE | click X Y\n");
        return 2;
    }
    wl_display_disconnect(display);
    return 0;
}
