/* mapwait: time from exec to the first mapped top-level window of a program,
 * then its resident memory two seconds later.
 *
 *   mapwait [--name NAME] [--timeout SEC] -- program args...
 *
 * Prints one line "<ms> <rss_mb>". Exit 2 on time-out, 3 if the program
 * exits first, 1 on other errors. MAPWAIT_DEBUG=1 logs every mapped window
 * to stderr, which helps to choose NAME.
 * Build: cc -O2 mapwait.c -lX11 -o mapwait
 */
#define _GNU_SOURCE
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <errno.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/select.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#define MAX_WINS 256

struct cand {
    Window w;
    double map_ms; /* < 0 while unmapped */
};

static struct cand cands[MAX_WINS];
static int ncands;
static Atom a_net_wm_name, a_utf8, a_net_wm_pid;
static int debug;

static double now_ms(void)
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

/* Other clients' windows can vanish between event and query. */
static int ignore_x_error(Display *d, XErrorEvent *e)
{
    (void)d;
    (void)e;
    return 0;
}

static struct cand *find_cand(Window w, int add)
{
    for (int i = 0; i < ncands; i++)
        if (cands[i].w == w)
            return &cands[i];
    if (!add || ncands == MAX_WINS)
        return NULL;
    cands[ncands].w = w;
    cands[ncands].map_ms = -1;
    return &cands[ncands++];
}

static int name_matches(Display *d, Window w, const char *want, char *shown, size_t shown_len)
{
    int hit = 0;
    shown[0] = 0;

    Atom type;
    int fmt;
    unsigned long n, after;
    unsigned char *data = NULL;
    if (XGetWindowProperty(d, w, a_net_wm_name, 0, 1024, False, a_utf8, &type, &fmt, &n, &after,
                           &data) == Success &&
        data) {
        if (type == a_utf8 && fmt == 8) {
            snprintf(shown, shown_len, "%s", (char *)data);
            if (want && strcasestr((char *)data, want))
                hit = 1;
        }
        XFree(data);
    }

    char *legacy = NULL;
    if (XFetchName(d, w, &legacy) && legacy) {
        if (!shown[0])
            snprintf(shown, shown_len, "%s", legacy);
        if (want && strcasestr(legacy, want))
            hit = 1;
        XFree(legacy);
    }
    return want ? hit : 1;
}

/* _NET_WM_PID of the window, or 0 if unset. */
static long window_pid(Display *d, Window w)
{
    Atom type;
    int fmt;
    unsigned long n, after;
    unsigned char *data = NULL;
    long pid = 0;
    if (XGetWindowProperty(d, w, a_net_wm_pid, 0, 1, False, XA_CARDINAL, &type, &fmt, &n, &after,
                           &data) == Success &&
        data) {
        if (type == XA_CARDINAL && fmt == 32 && n == 1)
            pid = (long)*(unsigned long *)data;
        XFree(data);
    }
    return pid;
}

static long parent_of(long pid)
{
    char path[64], buf[512];
    snprintf(path, sizeof path, "/proc/%ld/stat", pid);
    FILE *f = fopen(path, "r");
    if (!f)
        return 0;
    size_t len = fread(buf, 1, sizeof buf - 1, f);
    fclose(f);
    buf[len] = 0;
    char *p = strrchr(buf, ')'); /* comm may contain spaces */
    long ppid = 0;
    if (p)
        sscanf(p + 1, " %*c %ld", &ppid);
    return ppid;
}

/* Windows without _NET_WM_PID are accepted: only our child runs on this display. */
static int belongs_to(long wpid, pid_t child)
{
    if (wpid == 0)
        return 1;
    for (int depth = 0; wpid > 1 && depth < 32; depth++) {
        if (wpid == child)
            return 1;
        wpid = parent_of(wpid);
    }
    return 0;
}

static double rss_mb(pid_t pid)
{
    char path[64], line[256];
    snprintf(path, sizeof path, "/proc/%d/status", (int)pid);
    FILE *f = fopen(path, "r");
    if (!f)
        return -1;
    double kb = -1;
    while (fgets(line, sizeof line, f))
        if (sscanf(line, "VmRSS: %lf", &kb) == 1)
            break;
    fclose(f);
    return kb < 0 ? -1 : kb / 1024.0;
}

static int reaped;

static void stop_child(pid_t pid)
{
    if (reaped)
        return;
    /* The whole group, so helper processes the program forked die too. */
    kill(-pid, SIGTERM);
    kill(pid, SIGTERM);
    for (int i = 0; i < 100; i++) {
        if (waitpid(pid, NULL, WNOHANG) == pid) {
            reaped = 1;
            kill(-pid, SIGKILL);
            return;
        }
        usleep(10000);
    }
    kill(-pid, SIGKILL);
    kill(pid, SIGKILL);
    waitpid(pid, NULL, 0);
    reaped = 1;
}

static int usage(void)
{
    fprintf(stderr, "usage: mapwait [--name NAME] [--timeout SEC] -- program args...\n");
    return 1;
}

int main(int argc, char **argv)
{
    const char *want = NULL;
    double timeout_s = 20;
    int i = 1;
    for (; i < argc; i++) {
        if (!strcmp(argv[i], "--")) {
            i++;
            break;
        } else if (!strcmp(argv[i], "--name") && i + 1 < argc) {
            want = argv[++i];
        } else if (!strcmp(argv[i], "--timeout") && i + 1 < argc) {
            timeout_s = atof(argv[++i]);
        } else {
            return usage();
        }
    }
    if (i >= argc)
        return usage();
    char **prog = &argv[i];
    debug = getenv("MAPWAIT_DEBUG") && *getenv("MAPWAIT_DEBUG") == '1';

    Display *d = XOpenDisplay(NULL);
    if (!d) {
        fprintf(stderr, "mapwait: cannot open display\n");
        return 1;
    }
    XSetErrorHandler(ignore_x_error);
    a_net_wm_name = XInternAtom(d, "_NET_WM_NAME", False);
    a_utf8 = XInternAtom(d, "UTF8_STRING", False);
    a_net_wm_pid = XInternAtom(d, "_NET_WM_PID", False);
    Window root = DefaultRootWindow(d);
    XSelectInput(d, root, SubstructureNotifyMask);
    /* Make sure the server has our selection before the child can map. */
    XSync(d, False);

    double t0 = now_ms();
    pid_t child = fork();
    if (child < 0) {
        perror("mapwait: fork");
        return 1;
    }
    if (child == 0) {
        setpgid(0, 0);
        close(ConnectionNumber(d));
        /* Our stdout carries only the result line. */
        dup2(STDERR_FILENO, STDOUT_FILENO);
        execvp(prog[0], prog);
        fprintf(stderr, "mapwait: exec %s: %s\n", prog[0], strerror(errno));
        _exit(127);
    }
    setpgid(child, child);

    double found_ms = -1;
    int fd = ConnectionNumber(d);
    double deadline = t0 + timeout_s * 1e3;
    char shown[512];

    while (found_ms < 0) {
        while (found_ms < 0 && XPending(d)) {
            XEvent ev;
            XNextEvent(d, &ev);
            double t = now_ms();
            if (ev.type == CreateNotify && ev.xcreatewindow.parent == root) {
                /* Names often arrive after the map, so watch properties. */
                if (!ev.xcreatewindow.override_redirect)
                    XSelectInput(d, ev.xcreatewindow.window, PropertyChangeMask);
            } else if (ev.type == MapNotify && ev.xmap.event == root) {
                if (ev.xmap.override_redirect) /* menus, tooltips */
                    continue;
                Window w = ev.xmap.window;
                long wpid = window_pid(d, w);
                int match = name_matches(d, w, want, shown, sizeof shown);
                if (debug)
                    fprintf(stderr, "mapwait: +%.1f ms map 0x%lx pid %ld \"%s\"\n", t - t0, w, wpid,
                            shown);
                if (!belongs_to(wpid, child))
                    continue;
                struct cand *c = find_cand(w, 1);
                if (c)
                    c->map_ms = t - t0;
                if (match)
                    found_ms = t - t0;
            } else if (ev.type == UnmapNotify && ev.xunmap.event == root) {
                struct cand *c = find_cand(ev.xunmap.window, 0);
                if (c)
                    c->map_ms = -1;
            } else if (ev.type == PropertyNotify && want) {
                struct cand *c = find_cand(ev.xproperty.window, 0);
                if (c && c->map_ms >= 0 &&
                    (ev.xproperty.atom == XA_WM_NAME || ev.xproperty.atom == a_net_wm_name) &&
                    name_matches(d, c->w, want, shown, sizeof shown)) {
                    if (debug)
                        fprintf(stderr, "mapwait: +%.1f ms named 0x%lx \"%s\"\n", t - t0, c->w,
                                shown);
                    /* The window was on screen since its map. */
                    found_ms = c->map_ms;
                }
            }
        }
        if (found_ms >= 0)
            break;

        if (waitpid(child, NULL, WNOHANG) == child) {
            reaped = 1;
            fprintf(stderr, "mapwait: %s exited before its window appeared\n", prog[0]);
            return 3;
        }
        double left = deadline - now_ms();
        if (left <= 0) {
            fprintf(stderr, "mapwait: no window from %s within %.0f s\n", prog[0], timeout_s);
            stop_child(child);
            return 2;
        }
        /* Short waits so a child that dies is noticed promptly. */
        if (left > 100)
            left = 100;
        fd_set fds;
        FD_ZERO(&fds);
        FD_SET(fd, &fds);
        struct timeval tv = {(long)(left / 1e3), (long)((long)left % 1000) * 1000};
        select(fd + 1, &fds, NULL, NULL, &tv);
    }

    if (debug)
        fprintf(stderr, "mapwait: window \"%s\" after %.1f ms\n", shown, found_ms);

    /* Let start-up work that follows the first map settle before measuring. */
    double settle_end = now_ms() + 2000;
    while (now_ms() < settle_end) {
        if (waitpid(child, NULL, WNOHANG) == child) {
            reaped = 1;
            fprintf(stderr, "mapwait: %s exited during the 2 s after its window appeared\n",
                    prog[0]);
            return 3;
        }
        while (XPending(d)) { /* keep the queue short */
            XEvent ev;
            XNextEvent(d, &ev);
        }
        usleep(20000);
    }
    double rss = rss_mb(child);
    stop_child(child);
    XCloseDisplay(d);
    if (rss < 0) {
        fprintf(stderr, "mapwait: cannot read VmRSS of %d\n", (int)child);
        return 1;
    }
    printf("%.1f %.1f\n", found_ms, rss);
    return 0;
}
