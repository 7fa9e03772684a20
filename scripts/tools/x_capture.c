/* Captures a region of an X display as fast as shared memory allows, for a given time, and
 * writes each capture that differs from the one before as a PPM named by its time in ms since
 * the start: x_capture DISPLAY X Y WIDTH HEIGHT SECONDS OUTDIR
 * Built and run by scripts/resize_captures.sh on the Linux side of a test run. */
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ipc.h>
#include <sys/shm.h>
#include <time.h>

static double now_ms(void) {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec * 1000.0 + t.tv_nsec / 1e6;
}

static void write_ppm(const char* dir, double at, XImage* image, int w, int h) {
    char name[4096];
    snprintf(name, sizeof name, "%s/%07.1f.ppm", dir, at);
    FILE* f = fopen(name, "wb");
    if (!f) {
        perror(name);
        exit(1);
    }
    fprintf(f, "P6\n%d %d\n255\n", w, h);
    unsigned char* row = malloc((size_t)w * 3);
    for (int y = 0; y < h; ++y) {
        const unsigned int* src =
            (const unsigned int*)(image->data + (size_t)y * image->bytes_per_line);
        for (int x = 0; x < w; ++x) {
            row[x * 3] = (src[x] >> 16) & 0xff;
            row[x * 3 + 1] = (src[x] >> 8) & 0xff;
            row[x * 3 + 2] = src[x] & 0xff;
        }
        fwrite(row, 3, (size_t)w, f);
    }
    free(row);
    fclose(f);
}

int main(int argc, char** argv) {
    if (argc != 8) {
        fprintf(stderr, "usage: x_capture DISPLAY X Y WIDTH HEIGHT SECONDS OUTDIR\n");
        return 2;
    }
    Display* display = XOpenDisplay(argv[1]);
    if (!display || !XShmQueryExtension(display)) {
        fprintf(stderr, "no display or no shared memory extension\n");
        return 1;
    }
    const int x0 = atoi(argv[2]), y0 = atoi(argv[3]), w = atoi(argv[4]), h = atoi(argv[5]);
    const double seconds = atof(argv[6]);
    const int screen = DefaultScreen(display);
    XShmSegmentInfo shm;
    XImage* image = XShmCreateImage(display, DefaultVisual(display, screen),
                                    DefaultDepth(display, screen), ZPixmap, NULL, &shm, w, h);
    shm.shmid = shmget(IPC_PRIVATE, (size_t)image->bytes_per_line * h, IPC_CREAT | 0600);
    shm.shmaddr = image->data = shmat(shm.shmid, NULL, 0);
    shm.readOnly = False;
    XShmAttach(display, &shm);
    shmctl(shm.shmid, IPC_RMID, NULL);
    const size_t bytes = (size_t)image->bytes_per_line * h;
    unsigned char* last = calloc(1, bytes);
    const double start = now_ms();
    struct timespec wall;
    clock_gettime(CLOCK_REALTIME, &wall);
    printf("start %lld\n", (long long)wall.tv_sec * 1000 + wall.tv_nsec / 1000000);
    fflush(stdout);
    int taken = 0, kept = 0;
    while (now_ms() - start < seconds * 1000.0) {
        XShmGetImage(display, RootWindow(display, screen), image, x0, y0, AllPlanes);
        ++taken;
        if (memcmp(last, image->data, bytes) != 0) {
            memcpy(last, image->data, bytes);
            write_ppm(argv[7], now_ms() - start, image, w, h);
            ++kept;
        }
    }
    printf("%d captures, %d differing, every %.1f ms\n", taken, kept, seconds * 1000.0 / taken);
    XShmDetach(display, &shm);
    return 0;
}
