/*
 * A pointer for a headless wlroots compositor, whose seat has none of its own: the seat offers
 * wl_pointer to clients only while a virtual pointer exists, so this program stays connected for
 * as long as the test needs a pointer.
 *
 *   virtualpointer [--extent W H]  commands on standard input, one per line:
 *                                    move X Y   absolute position in layout coordinates,
 *                                               within the extent (the layout's size)
 *                                    move X Y W H   the same within a layout of W x H
 *                                    click      left button pressed and released
 *                                    press      left button pressed and held, as a drag holds it
 *                                    release    left button released
 *                                    sync       nothing: answers once the compositor has also sent
 *                                               out what it had for other clients
 *                                    quit
 *                                  prints "ready" once the pointer exists, and "ok" after each
 *                                  command once the compositor has handled it.
 *   virtualpointer --globals       prints the interfaces the compositor offers, one a line.
 */
#define _POSIX_C_SOURCE 200809L

#include "wlr-virtual-pointer-unstable-v1-client-protocol.h"

#include <linux/input-event-codes.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <wayland-client.h>

struct state
{
    int listGlobals;
    struct wl_seat *seat;
    struct zwlr_virtual_pointer_manager_v1 *manager;
};

static void handleGlobal(
    void *data, struct wl_registry *registry, uint32_t name, const char *interface, uint32_t version)
{
    struct state *state = data;
    (void)version;
    if (state->listGlobals) {
        printf("%s\n", interface);
    } else if (!state->seat && strcmp(interface, wl_seat_interface.name) == 0) {
        state->seat = wl_registry_bind(registry, name, &wl_seat_interface, 1);
    } else if (strcmp(interface, zwlr_virtual_pointer_manager_v1_interface.name) == 0) {
        state->manager = wl_registry_bind(registry, name, &zwlr_virtual_pointer_manager_v1_interface, 1);
    }
}

static void handleGlobalRemove(void *data, struct wl_registry *registry, uint32_t name)
{
    (void)data;
    (void)registry;
    (void)name;
}

static const struct wl_registry_listener registryListener = { handleGlobal, handleGlobalRemove };

static uint32_t nowMs(void)
{
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (uint32_t)(now.tv_sec * 1000 + now.tv_nsec / 1000000);
}

static int answer(struct wl_display *display, const char *text)
{
    /* The round trip makes sure the compositor has handled the requests before the test goes on. */
    if (wl_display_roundtrip(display) < 0) {
        fprintf(stderr, "virtualpointer: lost the compositor\n");
        return 0;
    }
    printf("%s\n", text);
    fflush(stdout);
    return 1;
}

int main(int argc, char *argv[])
{
    struct state state = { 0, NULL, NULL };
    long extentW = 0;
    long extentH = 0;
    for (int i = 1; i < argc; ++i) {
        if (strcmp(argv[i], "--globals") == 0) {
            state.listGlobals = 1;
        } else if (strcmp(argv[i], "--extent") == 0 && i + 2 < argc) {
            extentW = strtol(argv[i + 1], NULL, 10);
            extentH = strtol(argv[i + 2], NULL, 10);
            i += 2;
        } else {
            fprintf(stderr, "usage: virtualpointer [--extent W H] | --globals\n");
            return 2;
        }
    }

    struct wl_display *display = wl_display_connect(NULL);
    if (!display) {
        fprintf(stderr, "virtualpointer: cannot connect to the Wayland display\n");
        return 1;
    }
    struct wl_registry *registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, &registryListener, &state);
    if (wl_display_roundtrip(display) < 0) {
        fprintf(stderr, "virtualpointer: lost the compositor\n");
        return 1;
    }
    if (state.listGlobals) {
        fflush(stdout);
        wl_registry_destroy(registry);
        wl_display_disconnect(display);
        return 0;
    }
    if (!state.manager) {
        fprintf(stderr, "virtualpointer: the compositor offers no zwlr_virtual_pointer_manager_v1\n");
        if (state.seat)
            wl_seat_destroy(state.seat);
        wl_registry_destroy(registry);
        wl_display_disconnect(display);
        return 1;
    }

    struct zwlr_virtual_pointer_v1 *pointer
        = zwlr_virtual_pointer_manager_v1_create_virtual_pointer(state.manager, state.seat);
    int ok = answer(display, "ready");

    char line[256];
    while (ok && fgets(line, sizeof line, stdin)) {
        long x = 0;
        long y = 0;
        long w = extentW;
        long h = extentH;
        const int fields = sscanf(line, "move %ld %ld %ld %ld", &x, &y, &w, &h);
        if (fields == 2 || fields == 4) {
            if (w <= 0 || h <= 0 || x < 0 || y < 0 || x > w || y > h) {
                printf("error %ld %ld lies outside the extent\n", x, y);
                fflush(stdout);
                continue;
            }
            zwlr_virtual_pointer_v1_motion_absolute(
                pointer, nowMs(), (uint32_t)x, (uint32_t)y, (uint32_t)w, (uint32_t)h);
            zwlr_virtual_pointer_v1_frame(pointer);
            ok = answer(display, "ok");
        } else if (strncmp(line, "click", 5) == 0) {
            zwlr_virtual_pointer_v1_button(pointer, nowMs(), BTN_LEFT, WL_POINTER_BUTTON_STATE_PRESSED);
            zwlr_virtual_pointer_v1_frame(pointer);
            zwlr_virtual_pointer_v1_button(pointer, nowMs(), BTN_LEFT, WL_POINTER_BUTTON_STATE_RELEASED);
            zwlr_virtual_pointer_v1_frame(pointer);
            ok = answer(display, "ok");
        } else if (strncmp(line, "press", 5) == 0 || strncmp(line, "release", 7) == 0) {
            zwlr_virtual_pointer_v1_button(pointer, nowMs(), BTN_LEFT,
                line[0] == 'p' ? WL_POINTER_BUTTON_STATE_PRESSED : WL_POINTER_BUTTON_STATE_RELEASED);
            zwlr_virtual_pointer_v1_frame(pointer);
            ok = answer(display, "ok");
        } else if (strncmp(line, "sync", 4) == 0) {
            /* The compositor sends its events out at the start of its next turn: a second round
             * trip makes sure that turn has come. */
            ok = wl_display_roundtrip(display) >= 0 && answer(display, "ok");
        } else if (strncmp(line, "quit", 4) == 0) {
            break;
        } else {
            printf("error unknown command\n");
            fflush(stdout);
        }
    }

    zwlr_virtual_pointer_v1_destroy(pointer);
    zwlr_virtual_pointer_manager_v1_destroy(state.manager);
    if (state.seat)
        wl_seat_destroy(state.seat);
    wl_registry_destroy(registry);
    wl_display_roundtrip(display);
    wl_display_disconnect(display);
    return ok ? 0 : 1;
}
