// Start-up time of the launcher against a bare QWebView program showing the same page, both
// measured in one run on the same X server. For each start it records, from the moment before
// the process is created:
//   mapped  - a viewable top-level window of that process exists;
//   page    - a probe pixel inside the web area shows the page's background colour, so the
//             window is painted, page included.
// Runs alternate between the two programs so that drifts of the machine hit both alike.
//
//   startupbench RUNS RRGGBB LAUNCHER_EXE LAUNCHER_DIR BAREWEB_EXE PAGE_URL

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct Subject
{
    std::string name;
    std::string program;
    std::string argument; // empty: none
    std::string directory;
    int probeX;
    int probeY;
    std::vector<double> mapped;
    std::vector<double> page;
};

int ignoreXErrors(Display *, XErrorEvent *)
{
    return 0; // windows come and go while we look at them
}

long windowPid(Display *display, Window window, Atom pidAtom)
{
    Atom type = None;
    int format = 0;
    unsigned long count = 0, remaining = 0;
    unsigned char *data = nullptr;
    long pid = -1;
    if (XGetWindowProperty(
            display, window, pidAtom, 0, 1, False, XA_CARDINAL, &type, &format, &count, &remaining, &data)
            == Success
        && data && count == 1 && format == 32)
        pid = static_cast<long>(*reinterpret_cast<unsigned long *>(data));
    if (data)
        XFree(data);
    return pid;
}

Window findWindow(Display *display, pid_t pid, Atom pidAtom, int minWidth, int minHeight)
{
    Window root = DefaultRootWindow(display), parent = 0, *children = nullptr;
    unsigned int count = 0;
    Window found = 0;
    if (!XQueryTree(display, root, &root, &parent, &children, &count))
        return 0;
    for (unsigned int i = 0; i < count && !found; ++i) {
        XWindowAttributes attributes;
        if (!XGetWindowAttributes(display, children[i], &attributes) || attributes.map_state != IsViewable)
            continue;
        if (attributes.width < minWidth || attributes.height < minHeight)
            continue;
        if (windowPid(display, children[i], pidAtom) == pid)
            found = children[i];
    }
    if (children)
        XFree(children);
    return found;
}

bool showsColour(Display *display, Window window, int x, int y, unsigned long rgb)
{
    XImage *image = XGetImage(display, window, x, y, 1, 1, AllPlanes, ZPixmap);
    if (!image)
        return false;
    const unsigned long pixel = XGetPixel(image, 0, 0) & 0xffffff;
    XDestroyImage(image);
    return pixel == rgb;
}

pid_t spawn(const Subject &subject)
{
    const pid_t pid = fork();
    if (pid == 0) {
        if (chdir(subject.directory.c_str()) != 0)
            _exit(127);
        std::vector<char *> argv {const_cast<char *>(subject.program.c_str())};
        if (!subject.argument.empty())
            argv.push_back(const_cast<char *>(subject.argument.c_str()));
        argv.push_back(nullptr);
        execv(subject.program.c_str(), argv.data());
        _exit(127);
    }
    return pid;
}

void stop(pid_t pid)
{
    kill(pid, SIGTERM);
    for (int i = 0; i < 500; ++i) {
        if (waitpid(pid, nullptr, WNOHANG) == pid)
            return;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
}

bool measure(Display *display, Atom pidAtom, Subject &subject, unsigned long rgb)
{
    const double limitMs = 30000;
    const Clock::time_point start = Clock::now();
    const pid_t pid = spawn(subject);
    if (pid < 0)
        return false;
    const auto elapsedMs
        = [&] { return std::chrono::duration<double, std::milli>(Clock::now() - start).count(); };

    Window window = 0;
    double mapped = -1;
    double page = -1;
    while (elapsedMs() < limitMs) {
        if (!window) {
            window = findWindow(display, pid, pidAtom, subject.probeX + 1, subject.probeY + 1);
            if (window)
                mapped = elapsedMs();
        }
        if (window && showsColour(display, window, subject.probeX, subject.probeY, rgb)) {
            page = elapsedMs();
            break;
        }
        if (waitpid(pid, nullptr, WNOHANG) == pid) {
            std::fprintf(stderr, "%s exited during its start\n", subject.name.c_str());
            return false;
        }
        std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
    stop(pid);
    if (page < 0) {
        std::fprintf(stderr, "%s: no page within %.0f ms (mapped: %s)\n", subject.name.c_str(), limitMs,
            window ? "yes" : "no");
        return false;
    }
    subject.mapped.push_back(mapped);
    subject.page.push_back(page);
    return true;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

void report(const char *what, const std::vector<double> &values)
{
    std::printf("  %-7s median %7.1f ms   min %7.1f   max %7.1f\n", what, median(values),
        *std::min_element(values.begin(), values.end()), *std::max_element(values.begin(), values.end()));
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc != 7) {
        std::fprintf(
            stderr, "usage: %s RUNS RRGGBB LAUNCHER_EXE LAUNCHER_DIR BAREWEB_EXE PAGE_URL\n", argv[0]);
        return 2;
    }
    const int runs = std::max(1, std::atoi(argv[1]));
    const unsigned long rgb = std::strtoul(argv[2], nullptr, 16);
    Display *display = XOpenDisplay(nullptr);
    if (!display) {
        std::fprintf(stderr, "no X display\n");
        return 1;
    }
    XSetErrorHandler(ignoreXErrors);
    const Atom pidAtom = XInternAtom(display, "_NET_WM_PID", False);

    // Probes: a point of the page's own background inside the web area, clear of the pictures
    // that lie over the launcher's web view.
    Subject launcher {"launcher", argv[3], "", argv[4], 140, 650, {}, {}};
    Subject bare {"bareweb", argv[5], argv[6], argv[4], 20, 360, {}, {}};

    // One start of each first, not counted: it fills the page cache.
    if (!measure(display, pidAtom, launcher, rgb) || !measure(display, pidAtom, bare, rgb))
        return 1;
    launcher.mapped.clear(), launcher.page.clear(), bare.mapped.clear(), bare.page.clear();
    for (int i = 0; i < runs; ++i) {
        if (!measure(display, pidAtom, launcher, rgb) || !measure(display, pidAtom, bare, rgb))
            return 1;
    }
    XCloseDisplay(display);

    std::printf("Start-up until the window is mapped and the page painted, %d runs each\n", runs);
    for (const Subject *subject : {&launcher, &bare}) {
        std::printf("%s\n", subject->name.c_str());
        report("mapped", subject->mapped);
        report("page", subject->page);
    }
    const double ratio = median(launcher.page) / median(bare.page);
    std::printf("launcher / bareweb (page, medians): %.2f   target <= 1.50: %s\n", ratio,
        ratio <= 1.5 ? "met" : "NOT met");
    return 0;
}
