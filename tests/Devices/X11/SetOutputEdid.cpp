// Puts an EDID on the first output of an X server, as a real monitor's cable would: virtual servers have
// none. Used by scripts/two-displays.sh. Usage: SetOutputEdid FILE (on the DISPLAY of the environment).
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/extensions/Xrandr.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <vector>

int main(int argc, char* argv[])
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s EDID-FILE\n", argv[0]);
        return 2;
    }
    std::ifstream file(argv[1], std::ios::binary);
    const std::vector<unsigned char> edid((std::istreambuf_iterator<char>(file)),
                                          std::istreambuf_iterator<char>());
    if (!file.good() && !file.eof()) {
        std::fprintf(stderr, "cannot read %s\n", argv[1]);
        return 1;
    }
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        std::fprintf(stderr, "cannot open the X display\n");
        return 1;
    }
    XRRScreenResources* resources = XRRGetScreenResourcesCurrent(display, DefaultRootWindow(display));
    if (resources == nullptr || resources->noutput == 0) {
        std::fprintf(stderr, "the X server has no output\n");
        XCloseDisplay(display);
        return 1;
    }
    const Atom property = XInternAtom(display, RR_PROPERTY_RANDR_EDID, False);
    XRRChangeOutputProperty(display, resources->outputs[0], property, XA_INTEGER, 8, PropModeReplace,
                            edid.data(), static_cast<int>(edid.size()));
    XRRFreeScreenResources(resources);
    XSync(display, False);
    XCloseDisplay(display);
    return 0;
}
